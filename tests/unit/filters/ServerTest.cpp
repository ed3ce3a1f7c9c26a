#include <string>

#include "FilterFakes.h"
#include "echo/Echo.h"
#include "transpose/Transpose.h"

namespace {

struct Server {
    const char* dll;
    const char* name;
    CLSID filter;
    CLSID page;
};

const Server kServers[] = {
    {"transpose.dll", "Transpose", CLSID_Transpose, CLSID_TransposePage},
    {"echo.dll", "Echo", CLSID_Echo, CLSID_EchoPage},
};

std::string guidString(const GUID& id) {
    wchar_t wide[40];
    StringFromGUID2(id, wide, 40);
    return std::string(wide, wide + 38);
}

// A registry value as text; "<missing>" when the key or value is not there.
std::string registryText(const std::string& path, const char* value = nullptr) {
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return "<missing>";
    char text[MAX_PATH] = {};
    DWORD size = sizeof text - 1, type = 0;
    LONG rc = RegQueryValueExA(key, value, nullptr, &type, reinterpret_cast<BYTE*>(text), &size);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS) return "<missing>";
    return type == REG_SZ ? std::string(text) : "<not text>";
}

class ServerTest : public ::testing::TestWithParam<Server> {
protected:
    ComScope com;
    FilterDll dll{GetParam().dll};
};

TEST_P(ServerTest, ExportsTheFourServerEntriesUndecorated) {
    ASSERT_NE(dll.module(), nullptr);
    for (const char* name : {"DllGetClassObject", "DllCanUnloadNow", "DllRegisterServer", "DllUnregisterServer"})
        EXPECT_NE(dll.symbol(name), nullptr) << name;
}

TEST_P(ServerTest, ClassFactoryServesFilterAndPageAndRefusesTheRest) {
    const Server& s = GetParam();
    typedef HRESULT(STDAPICALLTYPE * CanUnload)();
    CanUnload canUnload = reinterpret_cast<CanUnload>(dll.symbol("DllCanUnloadNow"));
    ASSERT_NE(canUnload, nullptr);
    EXPECT_EQ(canUnload(), S_OK);
    {
        ComRef<IMfxFilterPlugin> filter = dll.create<IMfxFilterPlugin>(s.filter, mfxid::IMfxFilterPlugin);
        ComRef<IPropertyPage> page = dll.create<IPropertyPage>(s.page, IID_IPropertyPage);
        EXPECT_TRUE(filter);
        EXPECT_TRUE(page);
        EXPECT_EQ(canUnload(), S_FALSE);

        ComRef<ISpecifyPropertyPages> pages;
        ASSERT_EQ(filter->QueryInterface(IID_ISpecifyPropertyPages, pages.putVoid()), S_OK);
        CAUUID list{};
        ASSERT_EQ(pages->GetPages(&list), S_OK);
        ASSERT_EQ(list.cElems, 1u);
        EXPECT_TRUE(sameId(&list.pElems[0], &s.page));
        CoTaskMemFree(list.pElems);
        EXPECT_EQ(pages->GetPages(nullptr), E_POINTER);
    }
    EXPECT_EQ(canUnload(), S_OK);

    void* out = reinterpret_cast<void*>(0xCAFECAFE);
    EXPECT_EQ(dll.getClassObject(mfxid::IMfxEventList, IID_IClassFactory, &out), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(dll.getClassObject(s.filter, IID_IClassFactory, nullptr), E_POINTER);

    ComRef<IClassFactory> factory;
    ASSERT_EQ(dll.getClassObject(s.filter, IID_IClassFactory, factory.putVoid()), S_OK);
    IUnknown* outer = reinterpret_cast<IUnknown*>(factory.get());
    out = reinterpret_cast<void*>(0xCAFECAFE);
    EXPECT_EQ(factory->CreateInstance(outer, IID_IUnknown, &out), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(factory->CreateInstance(nullptr, mfxid::IMfxEventList, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    EXPECT_EQ(canUnload(), S_FALSE) << "the factory itself is alive";
    factory.reset();
    EXPECT_EQ(canUnload(), S_FALSE) << "locked";
    ComRef<IClassFactory> again;
    ASSERT_EQ(dll.getClassObject(s.filter, IID_IClassFactory, again.putVoid()), S_OK);
    EXPECT_EQ(again->LockServer(FALSE), S_OK);
    again.reset();
    EXPECT_EQ(canUnload(), S_OK);
}

TEST_P(ServerTest, RegistrationWritesClassAndFilterKeysAndUnregistrationRemovesThem) {
    const Server& s = GetParam();
    typedef HRESULT(STDAPICALLTYPE * Entry)();
    Entry reg = reinterpret_cast<Entry>(dll.symbol("DllRegisterServer"));
    Entry unreg = reinterpret_cast<Entry>(dll.symbol("DllUnregisterServer"));
    ASSERT_TRUE(reg && unreg);
    const std::string classKey = "Software\\Classes\\CLSID\\" + guidString(s.filter);
    const std::string pageKey = "Software\\Classes\\CLSID\\" + guidString(s.page);
    const std::string filterKey = "Software\\Cakewalk Music Software\\MIDI Filters\\" + guidString(s.filter);

    ASSERT_EQ(reg(), S_OK);
    EXPECT_EQ(registryText(classKey), s.name);
    std::string server = registryText(classKey + "\\InprocServer32");
    EXPECT_EQ(server.substr(server.find_last_of('\\') + 1), s.dll);
    EXPECT_EQ(registryText(classKey + "\\InprocServer32", "ThreadingModel"), "Both");
    EXPECT_EQ(registryText(pageKey + "\\InprocServer32", "ThreadingModel"), "Apartment");
    EXPECT_NE(registryText(filterKey), "<missing>");
    EXPECT_EQ(registryText(pageKey + "\\InprocServer32"), server);

    // COM now finds both classes the way the module and its page view create them.
    ComRef<IMfxFilterPlugin> filter;
    EXPECT_EQ(CoCreateInstance(s.filter, nullptr, CLSCTX_INPROC_SERVER, mfxid::IMfxFilterPlugin, filter.putVoid()), S_OK);
    ComRef<IPropertyPage> page;
    EXPECT_EQ(CoCreateInstance(s.page, nullptr, CLSCTX_INPROC_SERVER, IID_IPropertyPage, page.putVoid()), S_OK);
    filter.reset();
    page.reset();

    ASSERT_EQ(unreg(), S_OK);
    EXPECT_EQ(registryText(classKey), "<missing>");
    EXPECT_EQ(registryText(classKey + "\\InprocServer32"), "<missing>");
    EXPECT_EQ(registryText(pageKey), "<missing>");
    HKEY key;
    EXPECT_NE(RegOpenKeyExA(HKEY_LOCAL_MACHINE, filterKey.c_str(), 0, KEY_READ, &key), ERROR_SUCCESS);
    // Unregistering what is not there is no error.
    EXPECT_EQ(unreg(), S_OK);
}

INSTANTIATE_TEST_SUITE_P(SampleFilters, ServerTest, ::testing::ValuesIn(kServers),
                         [](const ::testing::TestParamInfo<Server>& info) { return std::string(info.param.name); });

}  // namespace
