// TALSCAN.dll as a COM server under Wine: registration, creation, the
// dispatch interface by name and identifier, argument handling, and the
// failures of opening with their message boxes.
#include <gtest/gtest.h>
#include <windows.h>
#include <oleauto.h>

#include "common/com/automation.h"
#include "testing/wine/wine_support.h"

namespace {

const CLSID kScannerSO = {0x3C11BE62, 0x5309, 0x11D6,
                          {0x8E, 0x44, 0x00, 0x50, 0xDA, 0xC5, 0x80, 0xE1}};
const IID kScannerDispatch = {0x3C11BE61, 0x5309, 0x11D6,
                              {0x8E, 0x44, 0x00, 0x50, 0xDA, 0xC5, 0x80, 0xE1}};
constexpr char kClsidKey[] = "CLSID\\{3C11BE62-5309-11D6-8E44-0050DAC580E1}";

std::string LibraryPath() { return wine::ProgramFolder() + "TALSCAN.dll"; }

void DeleteRegistration() {
  wine::DeleteKeyTree(HKEY_CLASSES_ROOT, "TALSCAN.ScannerSO");
  wine::DeleteKeyTree(HKEY_CLASSES_ROOT, kClsidKey);
}

std::vector<std::string> Subkeys(HKEY root, const std::string& path) {
  std::vector<std::string> names;
  HKEY key = nullptr;
  if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
    return names;
  }
  char name[256];
  for (DWORD i = 0;; ++i) {
    DWORD size = sizeof name;
    if (RegEnumKeyExA(key, i, name, &size, nullptr, nullptr, nullptr,
                      nullptr) != ERROR_SUCCESS) {
      break;
    }
    names.push_back(name);
  }
  RegCloseKey(key);
  return names;
}

void ExpectRegistration() {
  EXPECT_EQ(wine::DefaultValue(HKEY_CLASSES_ROOT, "TALSCAN.ScannerSO"),
            "TALSCAN.ScannerSO");
  EXPECT_EQ(wine::DefaultValue(HKEY_CLASSES_ROOT, "TALSCAN.ScannerSO\\CLSID"),
            "{3C11BE62-5309-11D6-8E44-0050DAC580E1}");
  EXPECT_EQ(wine::DefaultValue(HKEY_CLASSES_ROOT, kClsidKey),
            "TALSCAN.ScannerSO");
  EXPECT_EQ(wine::DefaultValue(HKEY_CLASSES_ROOT,
                               std::string(kClsidKey) + "\\ProgID"),
            "TALSCAN.ScannerSO");
  const std::string server = wine::DefaultValue(
      HKEY_CLASSES_ROOT, std::string(kClsidKey) + "\\InProcServer32");
  EXPECT_EQ(_stricmp(server.c_str(), LibraryPath().c_str()), 0) << server;
  EXPECT_EQ(Subkeys(HKEY_CLASSES_ROOT, "TALSCAN.ScannerSO"),
            std::vector<std::string>{"CLSID"});
  auto classKeys = Subkeys(HKEY_CLASSES_ROOT, kClsidKey);
  std::sort(classKeys.begin(), classKeys.end(), [](auto& a, auto& b) {
    return _stricmp(a.c_str(), b.c_str()) < 0;
  });
  ASSERT_EQ(classKeys.size(), 2u);
  EXPECT_EQ(_stricmp(classKeys[0].c_str(), "InProcServer32"), 0);
  EXPECT_EQ(classKeys[1], "ProgID");
}

TEST(Registration, Regsvr32WritesTheFiveKeys) {
  DeleteRegistration();
  EXPECT_EQ(wine::RunProgram("regsvr32.exe /s \"" + LibraryPath() + "\""), 0);
  ExpectRegistration();
}

TEST(Registration, DllRegisterServerWritesTheFiveKeys) {
  DeleteRegistration();
  EXPECT_EQ(wine::RegisterLibrary(LibraryPath()), S_OK);
  ExpectRegistration();
}

class ServiceObject : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(wine::RegisterLibrary(LibraryPath()), S_OK);
    so = wine::Dispatch::Create(L"TALSCAN.ScannerSO");
    ASSERT_TRUE(so);
    control = wine::Dispatch::Create(L"OPOS.Scanner");
    ASSERT_TRUE(control);
    // Every test starts from a closed device.
    so.CallLong(L"Close");
  }

  long Open(const std::string& device) {
    return so.CallLong(L"OpenService", {wine::Bstr("Scanner"),
                                        wine::Bstr(device),
                                        wine::DispatchVariant(control.get())});
  }
  long Number(long index) {
    return so.CallLong(L"GetPropertyNumber", {wine::Long(index)});
  }
  std::string SystemText(DWORD error) {
    char* text = nullptr;
    FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                       FORMAT_MESSAGE_IGNORE_INSERTS,
                   nullptr, error, 0, reinterpret_cast<char*>(&text), 0,
                   nullptr);
    std::string result = text ? text : "";
    LocalFree(text);
    return result;
  }

  wine::Dispatch so;
  wine::Dispatch control;
};

TEST_F(ServiceObject, CreatedByProgIDAndAnswersItsInterfaces) {
  CLSID clsid;
  ASSERT_EQ(CLSIDFromProgID(L"TALSCAN.ScannerSO", &clsid), S_OK);
  EXPECT_TRUE(IsEqualCLSID(clsid, kScannerSO));
  IUnknown* unknown = nullptr;
  EXPECT_EQ(so.get()->QueryInterface(kScannerDispatch,
                                     reinterpret_cast<void**>(&unknown)),
            S_OK);
  EXPECT_EQ(unknown, static_cast<IUnknown*>(so.get()));
  unknown->Release();
  EXPECT_EQ(so.get()->QueryInterface(IID_IClassFactory,
                                     reinterpret_cast<void**>(&unknown)),
            E_NOINTERFACE);
  EXPECT_EQ(unknown, nullptr);
}

TEST_F(ServiceObject, MethodNamesResolveInAnyLetterCase) {
  const wchar_t* names[] = {
      L"CheckHealth", L"Claim", L"ClearInput", L"ClearOutput", L"Close",
      L"COFreezeEvents", L"DirectIO", L"OpenService", L"Release",
      L"GetPropertyNumber", L"SetPropertyNumber", L"SetPropertyString",
      L"GetPropertyString"};
  for (DISPID expected = 1; expected <= 13; ++expected) {
    EXPECT_EQ(so.Id(names[expected - 1]), expected);
  }
  EXPECT_EQ(so.Id(L"openservice"), 8);
  EXPECT_EQ(so.Id(L"OPENSERVICE"), 8);
  EXPECT_EQ(so.Id(L"getPropertySTRING"), 13);

  LPOLESTR unknown = const_cast<LPOLESTR>(L"OpenServices");
  DISPID id = 0;
  EXPECT_EQ(so.get()->GetIDsOfNames(IID_NULL, &unknown, 1, 0, &id),
            DISP_E_UNKNOWNNAME);
  EXPECT_EQ(id, DISPID_UNKNOWN);
  LPOLESTR empty = const_cast<LPOLESTR>(L"");
  EXPECT_EQ(so.get()->GetIDsOfNames(IID_NULL, &empty, 1, 0, &id),
            DISP_E_UNKNOWNNAME);
  LPOLESTR withParameter[] = {const_cast<LPOLESTR>(L"Claim"),
                              const_cast<LPOLESTR>(L"Timeout")};
  DISPID ids[2] = {};
  EXPECT_EQ(so.get()->GetIDsOfNames(IID_NULL, withParameter, 2, 0, ids),
            DISP_E_UNKNOWNNAME);
  EXPECT_EQ(ids[0], 2);
  EXPECT_EQ(ids[1], DISPID_UNKNOWN);
}

TEST_F(ServiceObject, OpenServiceOfAMissingDeviceReturnsFailure) {
  wine::BoxAnswerer boxes;
  EXPECT_EQ(Open("NoSuchDevice"), 111);
  EXPECT_EQ(Number(9), 1) << "State stays closed";
  EXPECT_EQ(Number(6), 111);
  EXPECT_TRUE(boxes.Boxes().empty());
}

TEST_F(ServiceObject, DebugLevelShowsTheFailingOpenStep) {
  wine::BoxAnswerer boxes;
  wine::WriteStandardEntry("MissingPort", "Omni-directional Laser", "COM3",
                           "KORVA", 1);
  EXPECT_EQ(Open("MissingPort"), 111);
  ASSERT_TRUE(boxes.WaitForBoxes(1, 5000));
  EXPECT_EQ(boxes.Boxes()[0].caption, "TALSCAN.ScannerSO");
  EXPECT_EQ(boxes.Boxes()[0].text,
            "Unable to open COM3.\nError 2: " + SystemText(2));
  EXPECT_EQ(Number(9), 1);

  boxes.Clear();
  wine::WriteStandardEntry("NoConfiguration", "Portable Scanner M-40", "COM3",
                           "KORVA", 1);
  RegDeleteKeyValueA(HKEY_LOCAL_MACHINE,
                     "SOFTWARE\\OLEforRetail\\ServiceOPOS\\Scanner\\"
                     "NoConfiguration",
                     "Configuration");
  EXPECT_EQ(Open("NoConfiguration"), 111);
  ASSERT_TRUE(boxes.WaitForBoxes(1, 5000));
  EXPECT_EQ(boxes.Boxes()[0].text,
            "Unable to load portable configuration from registry.\n");
}

TEST_F(ServiceObject, WithoutDebugLevelAFailingOpenShowsNothing) {
  wine::BoxAnswerer boxes;
  wine::WriteStandardEntry("Quiet", "Omni-directional Laser", "COM3");
  EXPECT_EQ(Open("Quiet"), 111);
  Sleep(300);
  EXPECT_TRUE(boxes.Boxes().empty());
}

TEST_F(ServiceObject, PropertiesThroughInvoke) {
  EXPECT_EQ(Number(8), 1006008);
  EXPECT_EQ(Number(14), 2000);
  EXPECT_EQ(so.CallString(L"GetPropertyString", {wine::Long(1000003)}),
            "Barcode Scanner");
  EXPECT_EQ(so.CallString(L"GetPropertyString", {wine::Long(1000002)}),
            "Barcode Scanner (RS232/USB Interface)");
  EXPECT_EQ(so.CallString(L"GetPropertyString", {wine::Long(5)}), "[Error]");
  EXPECT_EQ(Number(9999), 0);
  EXPECT_EQ(Number(6), 106);

  VARIANT result;
  ASSERT_EQ(so.Invoke(11, DISPATCH_METHOD, {wine::Long(2), wine::Long(1)},
                      &result),
            S_OK);
  EXPECT_EQ(V_VT(&result), VT_EMPTY) << "SetPropertyNumber returns nothing";
  EXPECT_EQ(Number(2), 1) << "settable while closed";
  EXPECT_EQ(Number(6), 0);
  so.CallLong(L"SetPropertyString", {wine::Long(1010001), wine::Bstr("x")});
  EXPECT_EQ(Number(6), 106);
  so.CallLong(L"SetPropertyNumber", {wine::Long(2), wine::Long(0)});
}

TEST_F(ServiceObject, ArgumentsAreCoercedAsAutomationCallersSendThem) {
  VARIANT result;
  // A number sent as text, a Boolean, a short and a reference.
  ASSERT_EQ(so.Invoke(10, DISPATCH_METHOD, {wine::Bstr("8")}, &result), S_OK);
  EXPECT_EQ(V_VT(&result), VT_I4);
  EXPECT_EQ(V_I4(&result), 1006008);
  VARIANT flag;
  VariantInit(&flag);
  V_VT(&flag) = VT_BOOL;
  V_BOOL(&flag) = VARIANT_TRUE;
  EXPECT_EQ(so.Invoke(6, DISPATCH_METHOD, {flag}, &result), S_OK);
  EXPECT_EQ(V_I4(&result), 0);
  VARIANT small;
  VariantInit(&small);
  V_VT(&small) = VT_I2;
  V_I2(&small) = 9;
  EXPECT_EQ(so.Invoke(10, DISPATCH_METHOD | DISPATCH_PROPERTYGET, {small},
                      &result),
            S_OK);
  EXPECT_EQ(V_I4(&result), 1);
  LONG index = 1000003;
  VARIANT reference;
  VariantInit(&reference);
  V_VT(&reference) = VT_I4 | VT_BYREF;
  V_I4REF(&reference) = &index;
  ASSERT_EQ(so.Invoke(13, DISPATCH_METHOD, {reference}, &result), S_OK);
  ASSERT_EQ(V_VT(&result), VT_BSTR);
  EXPECT_EQ(com::ToAnsi(V_BSTR(&result)), "Barcode Scanner");
  VariantClear(&result);
  // No place for a result is no error.
  EXPECT_EQ(so.Invoke(13, DISPATCH_METHOD, {wine::Long(1000003)}), S_OK);
  EXPECT_EQ(so.Invoke(5, DISPATCH_METHOD, {}), S_OK);
}

TEST_F(ServiceObject, ControlObjectMayComeByReferenceButNotEndlessly) {
  VARIANT control = wine::DispatchVariant(this->control.get());
  VARIANT reference;
  VariantInit(&reference);
  V_VT(&reference) = VT_VARIANT | VT_BYREF;
  V_VARIANTREF(&reference) = &control;
  VARIANT result;
  EXPECT_EQ(so.Invoke(8, DISPATCH_METHOD,
                      {wine::Bstr("Scanner"), wine::Bstr("NoSuchDevice"),
                       reference},
                      &result),
            S_OK);
  EXPECT_EQ(V_I4(&result), 111);

  VARIANT loop;
  VariantInit(&loop);
  V_VT(&loop) = VT_VARIANT | VT_BYREF;
  V_VARIANTREF(&loop) = &loop;  // a reference to itself
  UINT argError = 99;
  EXPECT_EQ(so.Invoke(8, DISPATCH_METHOD,
                      {wine::Bstr("Scanner"), wine::Bstr("NoSuchDevice"), loop},
                      &result, &argError),
            DISP_E_TYPEMISMATCH);
  EXPECT_EQ(argError, 0u);
}

TEST_F(ServiceObject, DirectIOTakesItsReferenceArguments) {
  LONG data = 7;
  BSTR text = SysAllocString(L"in");
  VARIANT dataRef;
  VariantInit(&dataRef);
  V_VT(&dataRef) = VT_I4 | VT_BYREF;
  V_I4REF(&dataRef) = &data;
  VARIANT textRef;
  VariantInit(&textRef);
  V_VT(&textRef) = VT_BSTR | VT_BYREF;
  V_BSTRREF(&textRef) = &text;
  VARIANT result;
  ASSERT_EQ(so.Invoke(7, DISPATCH_METHOD, {wine::Long(1), dataRef, textRef},
                      &result),
            S_OK);
  EXPECT_EQ(V_I4(&result), 106);
  EXPECT_EQ(data, 7);
  EXPECT_EQ(com::ToAnsi(text), "in") << "neither is written";
  SysFreeString(text);

  V_BSTRREF(&textRef) = nullptr;
  UINT argError = 99;
  EXPECT_EQ(so.Invoke(7, DISPATCH_METHOD, {wine::Long(1), dataRef, textRef},
                      &result, &argError),
            DISP_E_TYPEMISMATCH);
  EXPECT_EQ(argError, 0u) << "the last argument is first in DISPPARAMS";
}

TEST_F(ServiceObject, WrongCallsGetTheirDispatchErrors) {
  VARIANT result;
  EXPECT_EQ(so.Invoke(10, DISPATCH_METHOD, {}, &result), DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(so.Invoke(3, DISPATCH_METHOD, {wine::Long(1)}, &result),
            DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(so.Invoke(8, DISPATCH_METHOD, {wine::Bstr("Scanner")}, &result),
            DISP_E_BADPARAMCOUNT);
  for (DISPID id : {0L, 14L, -5L, 1000L}) {
    EXPECT_EQ(so.Invoke(id, DISPATCH_METHOD, {}, &result),
              DISP_E_MEMBERNOTFOUND)
        << id;
  }
  EXPECT_EQ(so.Invoke(10, DISPATCH_PROPERTYPUT, {wine::Long(1)}, &result),
            DISP_E_MEMBERNOTFOUND);

  UINT argError = 99;
  EXPECT_EQ(so.Invoke(11, DISPATCH_METHOD,
                      {wine::Long(2), wine::DispatchVariant(control.get())},
                      &result, &argError),
            DISP_E_TYPEMISMATCH);
  EXPECT_EQ(argError, 0u);
  EXPECT_EQ(so.Invoke(10, DISPATCH_METHOD, {wine::Bstr("eight")}, &result,
                      &argError),
            DISP_E_TYPEMISMATCH);
  EXPECT_EQ(so.Invoke(8, DISPATCH_METHOD,
                      {wine::Bstr("Scanner"), wine::Bstr("X"), wine::Long(5)},
                      &result, &argError),
            DISP_E_TYPEMISMATCH);
  EXPECT_EQ(argError, 0u);

  VARIANT missing;
  VariantInit(&missing);
  V_VT(&missing) = VT_ERROR;
  V_ERROR(&missing) = DISP_E_PARAMNOTFOUND;
  EXPECT_EQ(so.Invoke(2, DISPATCH_METHOD, {missing}, &result),
            DISP_E_PARAMNOTOPTIONAL);

  VARIANT argument = wine::Long(6);
  DISPID named = 0;
  DISPPARAMS params = {&argument, &named, 1, 1};
  EXPECT_EQ(so.get()->Invoke(10, IID_NULL, 0, DISPATCH_METHOD, &params,
                             &result, nullptr, nullptr),
            DISP_E_NONAMEDARGS);
  EXPECT_EQ(so.get()->Invoke(10, IID_IDispatch, 0, DISPATCH_METHOD, &params,
                             &result, nullptr, nullptr),
            DISP_E_UNKNOWNINTERFACE);
  EXPECT_EQ(Number(8), 1006008) << "the object still answers";
}

TEST(Library, CanUnloadOnlyWithoutLiveObjectsOrLocks) {
  ASSERT_EQ(wine::RegisterLibrary(LibraryPath()), S_OK);
  HMODULE library = LoadLibraryA(LibraryPath().c_str());
  ASSERT_NE(library, nullptr);
  auto canUnload =
      wine::Export<HRESULT(WINAPI*)()>(library, "DllCanUnloadNow");
  auto getClassObject =
      wine::Export<HRESULT(WINAPI*)(REFCLSID, REFIID, void**)>(
          library, "DllGetClassObject");
  ASSERT_TRUE(canUnload && getClassObject);
  CoFreeUnusedLibraries();

  {
    wine::Dispatch so = wine::Dispatch::Create(L"TALSCAN.ScannerSO");
    ASSERT_TRUE(so);
    so.CallLong(L"Close");
    EXPECT_EQ(canUnload(), S_FALSE);
  }
  EXPECT_EQ(canUnload(), S_OK);

  IClassFactory* factory = nullptr;
  ASSERT_EQ(getClassObject(kScannerSO, IID_IClassFactory,
                           reinterpret_cast<void**>(&factory)),
            S_OK);
  factory->LockServer(TRUE);
  EXPECT_EQ(canUnload(), S_FALSE);
  factory->LockServer(FALSE);
  EXPECT_EQ(canUnload(), S_OK);
  IUnknown* aggregated = nullptr;
  EXPECT_EQ(factory->CreateInstance(reinterpret_cast<IUnknown*>(factory),
                                    IID_IUnknown,
                                    reinterpret_cast<void**>(&aggregated)),
            CLASS_E_NOAGGREGATION);
  factory->Release();

  void* other = nullptr;
  EXPECT_EQ(getClassObject(IID_IDispatch, IID_IClassFactory, &other),
            CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(other, nullptr);
  FreeLibrary(library);
}

}  // namespace
