// Automation helpers shared by the COM servers of the driver set: text
// between 8-bit ANSI and BSTR, dispatch arguments read as the declared
// types (coerced as automation callers send them), and calls by dispatch
// identifier.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <initializer_list>
#include <string>

namespace com {

std::string ToAnsi(const wchar_t* text, int length);
std::string ToAnsi(BSTR text);
// A newly allocated BSTR that the receiver frees; nullptr when out of
// memory. The whole text is converted, NUL bytes included.
BSTR ToBstr(const std::string& text);

// True when two names are equal without regard to case, as dispatch names
// are compared.
bool SameName(const wchar_t* a, const wchar_t* b);

// The arguments of one Invoke call in declared order (DISPPARAMS holds them
// last first). Each reader coerces the argument to its type and returns
// S_OK, DISP_E_TYPEMISMATCH or DISP_E_PARAMNOTOPTIONAL, and then reports the
// argument's position through ArgError.
class Arguments {
 public:
  explicit Arguments(const DISPPARAMS* params) : params_(params) {}

  // S_OK, DISP_E_BADPARAMCOUNT or DISP_E_NONAMEDARGS.
  HRESULT Expect(UINT count) const;

  HRESULT Long(UINT position, long& value);
  HRESULT Bool(UINT position, bool& value);
  HRESULT String(UINT position, std::string& value);
  // VT_DISPATCH or VT_UNKNOWN (asked for IDispatch), by value or reference;
  // VT_EMPTY and VT_NULL give nullptr. The pointer is not AddRef'ed.
  HRESULT Dispatch(UINT position, IDispatch*& value);

  UINT ArgError() const { return argError_; }

 private:
  VARIANT* At(UINT position) const;
  HRESULT Coerce(UINT position, VARTYPE type, VARIANT& out);

  const DISPPARAMS* params_;
  UINT argError_ = 0;
};

// Calls a member by dispatch identifier with arguments in declared order.
HRESULT Call(IDispatch* target, DISPID id, WORD flags,
             std::initializer_list<VARIANT> args, VARIANT* result = nullptr);

// Calls a method (number, long* data, BSTR* text), as DirectIO and its
// callbacks are made; the callee may change data and text, and the caller
// sees the change.
HRESULT CallWithReferences(IDispatch* target, DISPID id, long number,
                           long& data, std::string& text,
                           VARIANT* result = nullptr);

VARIANT LongVariant(long value);
VARIANT BoolVariant(bool value);

// A result converted to a long (0 when it does not convert), and cleared.
long TakeLong(VARIANT& result);

}  // namespace com
