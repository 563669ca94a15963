#include "common/com/automation.h"

#include <vector>

namespace com {

std::string ToAnsi(const wchar_t* text, int length) {
  if (text == nullptr || length <= 0) return {};
  const int size = WideCharToMultiByte(CP_ACP, 0, text, length, nullptr, 0,
                                       nullptr, nullptr);
  if (size <= 0) return {};
  std::string result(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_ACP, 0, text, length, &result[0], size, nullptr,
                      nullptr);
  return result;
}

std::string ToAnsi(BSTR text) {
  return ToAnsi(text, text ? static_cast<int>(SysStringLen(text)) : 0);
}

BSTR ToBstr(const std::string& text) {
  if (text.empty()) return SysAllocStringLen(L"", 0);
  const int length = MultiByteToWideChar(CP_ACP, 0, text.data(),
                                         static_cast<int>(text.size()),
                                         nullptr, 0);
  BSTR result = SysAllocStringLen(nullptr, static_cast<UINT>(length));
  if (result == nullptr) return nullptr;
  MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()),
                      result, length);
  return result;
}

bool SameName(const wchar_t* a, const wchar_t* b) {
  if (a == nullptr || b == nullptr) return false;
  return CompareStringW(LOCALE_INVARIANT, NORM_IGNORECASE, a, -1, b, -1) ==
         CSTR_EQUAL;
}

HRESULT Arguments::Expect(UINT count) const {
  if (params_ == nullptr) return count == 0 ? S_OK : DISP_E_BADPARAMCOUNT;
  if (params_->cNamedArgs != 0) return DISP_E_NONAMEDARGS;
  if (params_->cArgs != count) return DISP_E_BADPARAMCOUNT;
  if (count != 0 && params_->rgvarg == nullptr) return E_INVALIDARG;
  return S_OK;
}

VARIANT* Arguments::At(UINT position) const {
  return &params_->rgvarg[params_->cArgs - 1 - position];
}

HRESULT Arguments::Coerce(UINT position, VARTYPE type, VARIANT& out) {
  VariantInit(&out);
  VARIANT* source = At(position);
  argError_ = params_->cArgs - 1 - position;
  if (V_VT(source) == VT_ERROR && V_ERROR(source) == DISP_E_PARAMNOTFOUND) {
    return DISP_E_PARAMNOTOPTIONAL;
  }
  if ((V_VT(source) & VT_BYREF) && V_BYREF(source) == nullptr) {
    return DISP_E_TYPEMISMATCH;
  }
  VARIANT direct;
  VariantInit(&direct);
  if (FAILED(VariantCopyInd(&direct, source))) return DISP_E_TYPEMISMATCH;
  const HRESULT hr = VariantChangeType(&out, &direct, 0, type);
  VariantClear(&direct);
  return SUCCEEDED(hr) ? S_OK : DISP_E_TYPEMISMATCH;
}

HRESULT Arguments::Long(UINT position, long& value) {
  VARIANT converted;
  const HRESULT hr = Coerce(position, VT_I4, converted);
  if (hr == S_OK) value = V_I4(&converted);
  return hr;
}

HRESULT Arguments::Bool(UINT position, bool& value) {
  long number = 0;
  const HRESULT hr = Long(position, number);
  if (hr == S_OK) value = number != 0;
  return hr;
}

HRESULT Arguments::String(UINT position, std::string& value) {
  VARIANT converted;
  const HRESULT hr = Coerce(position, VT_BSTR, converted);
  if (hr == S_OK) {
    value = ToAnsi(V_BSTR(&converted));
    VariantClear(&converted);
  }
  return hr;
}

HRESULT Arguments::Dispatch(UINT position, IDispatch*& value) {
  VARIANT* source = At(position);
  argError_ = params_->cArgs - 1 - position;
  value = nullptr;
  // One level of reference, as automation callers pass it; a reference
  // to a reference is refused rather than followed.
  if (V_VT(source) == (VT_VARIANT | VT_BYREF)) {
    source = V_VARIANTREF(source);
    if (source == nullptr || (V_VT(source) & VT_BYREF)) {
      return DISP_E_TYPEMISMATCH;
    }
  }
  IUnknown* unknown = nullptr;
  switch (V_VT(source)) {
    case VT_EMPTY:
    case VT_NULL:
      return S_OK;
    case VT_DISPATCH:
      value = V_DISPATCH(source);
      return S_OK;
    case VT_DISPATCH | VT_BYREF:
      value = V_DISPATCHREF(source) ? *V_DISPATCHREF(source) : nullptr;
      return S_OK;
    case VT_UNKNOWN:
      unknown = V_UNKNOWN(source);
      break;
    case VT_UNKNOWN | VT_BYREF:
      unknown = V_UNKNOWNREF(source) ? *V_UNKNOWNREF(source) : nullptr;
      break;
    default:
      return DISP_E_TYPEMISMATCH;
  }
  if (unknown == nullptr) return S_OK;
  IDispatch* dispatch = nullptr;
  if (FAILED(unknown->QueryInterface(IID_IDispatch,
                                     reinterpret_cast<void**>(&dispatch)))) {
    return DISP_E_TYPEMISMATCH;
  }
  // The pointer is used without a reference of its own, which is safe
  // while it is the caller's own interface. An interface the object made
  // for this query alone keeps the reference, or it would be gone at once.
  if (dispatch == unknown) dispatch->Release();
  value = dispatch;
  return S_OK;
}

HRESULT Call(IDispatch* target, DISPID id, WORD flags,
             std::initializer_list<VARIANT> args, VARIANT* result) {
  if (target == nullptr) return E_POINTER;
  std::vector<VARIANT> reversed(args.begin(), args.end());
  std::vector<VARIANT> ordered(reversed.rbegin(), reversed.rend());
  DISPID putId = DISPID_PROPERTYPUT;
  DISPPARAMS params = {ordered.empty() ? nullptr : ordered.data(), nullptr,
                       static_cast<UINT>(ordered.size()), 0};
  if (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) {
    params.rgdispidNamedArgs = &putId;
    params.cNamedArgs = 1;
  }
  EXCEPINFO exception = {};
  UINT argError = 0;
  const HRESULT hr = target->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags,
                                    &params, result, &exception, &argError);
  SysFreeString(exception.bstrSource);
  SysFreeString(exception.bstrDescription);
  SysFreeString(exception.bstrHelpFile);
  return hr;
}

HRESULT CallWithReferences(IDispatch* target, DISPID id, long number,
                           long& data, std::string& text, VARIANT* result) {
  LONG dataValue = data;
  BSTR textValue = ToBstr(text);
  VARIANT dataRef;
  VariantInit(&dataRef);
  V_VT(&dataRef) = VT_I4 | VT_BYREF;
  V_I4REF(&dataRef) = &dataValue;
  VARIANT textRef;
  VariantInit(&textRef);
  V_VT(&textRef) = VT_BSTR | VT_BYREF;
  V_BSTRREF(&textRef) = &textValue;
  const HRESULT hr =
      Call(target, id, DISPATCH_METHOD, {LongVariant(number), dataRef, textRef},
           result);
  data = dataValue;
  text = ToAnsi(textValue);
  SysFreeString(textValue);
  return hr;
}

long TakeLong(VARIANT& result) {
  VARIANT converted;
  VariantInit(&converted);
  long value = 0;
  if (SUCCEEDED(VariantChangeType(&converted, &result, 0, VT_I4))) {
    value = V_I4(&converted);
  }
  VariantClear(&result);
  return value;
}

VARIANT BoolVariant(bool value) {
  VARIANT variant;
  VariantInit(&variant);
  V_VT(&variant) = VT_BOOL;
  V_BOOL(&variant) = value ? VARIANT_TRUE : VARIANT_FALSE;
  return variant;
}

VARIANT LongVariant(long value) {
  VARIANT variant;
  VariantInit(&variant);
  V_VT(&variant) = VT_I4;
  V_I4(&variant) = value;
  return variant;
}

}  // namespace com
