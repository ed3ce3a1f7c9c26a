#include <cstring>
#include <random>

#include "FilterFakes.h"
#include "echo/Echo.h"
#include "transpose/Transpose.h"

namespace {

struct Kind {
    const char* dll;
    CLSID clsid;
    uint32_t magic;
    std::vector<int32_t> changed;  // valid values, none of them the initial one
};

const Kind kKinds[] = {
    {"transpose.dll", CLSID_Transpose, Transpose::kStateMagic, {-13}},
    {"echo.dll", CLSID_Echo, Echo::kStateMagic, {5, 125, 60}},
};

std::vector<int32_t> values(ISampleParameters* p) {
    std::vector<int32_t> out;
    for (int32_t i = 0; i < p->parameterCount(); ++i) {
        int32_t v = int32_t(0xCAFECAFE);
        p->getParameter(i, &v);
        out.push_back(v);
    }
    return out;
}

std::vector<uint8_t> stateBytes(uint32_t magic, uint16_t version, const std::vector<int32_t>& v) {
    std::vector<uint8_t> bytes(8 + 4 * v.size());
    SampleStateHeader h{magic, version, static_cast<uint16_t>(v.size())};
    memcpy(bytes.data(), &h, 8);
    if (!v.empty()) memcpy(bytes.data() + 8, v.data(), 4 * v.size());
    return bytes;
}

class PersistenceTest : public ::testing::TestWithParam<Kind> {
protected:
    void SetUp() override {
        ASSERT_NE(dll.module(), nullptr);
        persist = dll.create<IPersistStream>(GetParam().clsid, IID_IPersistStream);
        ASSERT_TRUE(persist);
        ASSERT_EQ(persist->QueryInterface(IID_ISampleParameters, params.putVoid()), S_OK);
    }
    void apply(const std::vector<int32_t>& v) {
        for (size_t i = 0; i < v.size(); ++i) ASSERT_EQ(params->setParameter(int32_t(i), v[i]), S_OK);
    }
    std::vector<uint8_t> save() {
        ComRef<IStream> stream;
        EXPECT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, stream.put()), S_OK);
        EXPECT_EQ(persist->Save(stream.get(), TRUE), S_OK);
        return streamBytes(stream.get());
    }
    HRESULT load(const std::vector<uint8_t>& bytes) { return persist->Load(streamOver(bytes).get()); }

    ComScope com;
    FilterDll dll{GetParam().dll};
    ComRef<IPersistStream> persist;
    ComRef<ISampleParameters> params;
};

TEST_P(PersistenceTest, SavedStateIsMagicVersionAndValuesAndLoadsIntoAFreshFilter) {
    const Kind& k = GetParam();
    apply(k.changed);
    EXPECT_EQ(persist->IsDirty(), S_OK);
    std::vector<uint8_t> bytes = save();
    EXPECT_EQ(bytes, stateBytes(k.magic, 1, k.changed));
    EXPECT_EQ(persist->IsDirty(), S_FALSE);
    ULARGE_INTEGER max{};
    EXPECT_EQ(persist->GetSizeMax(&max), S_OK);
    EXPECT_EQ(max.QuadPart, bytes.size());

    ComRef<IPersistStream> fresh = dll.create<IPersistStream>(k.clsid, IID_IPersistStream);
    ComRef<ISampleParameters> freshParams;
    ASSERT_EQ(fresh->QueryInterface(IID_ISampleParameters, freshParams.putVoid()), S_OK);
    EXPECT_NE(values(freshParams.get()), k.changed);
    EXPECT_EQ(fresh->Load(streamOver(bytes).get()), S_OK);
    EXPECT_EQ(values(freshParams.get()), k.changed);
    CLSID id;
    EXPECT_EQ(fresh->GetClassID(&id), S_OK);
    EXPECT_TRUE(sameId(&id, &k.clsid));
}

TEST_P(PersistenceTest, LoadRefusesAnythingElseAndKeepsTheSetting) {
    const Kind& k = GetParam();
    const std::vector<int32_t> before = values(params.get());
    std::vector<uint8_t> good = stateBytes(k.magic, 1, k.changed);
    std::vector<int32_t> outOfRange = k.changed;
    outOfRange.back() = 1000000;
    std::vector<int32_t> tooMany = k.changed;
    tooMany.push_back(0);
    const Kind& other = k.magic == kKinds[0].magic ? kKinds[1] : kKinds[0];
    std::mt19937 random(12345);
    std::vector<uint8_t> noise(64);
    for (uint8_t& b : noise) b = uint8_t(random());

    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
    } cases[] = {
        {"empty", {}},
        {"header only, truncated", std::vector<uint8_t>(good.begin(), good.begin() + 6)},
        {"values truncated", std::vector<uint8_t>(good.begin(), good.end() - 1)},
        {"wrong magic", stateBytes(k.magic ^ 1, 1, k.changed)},
        {"the other filter's state", stateBytes(other.magic, 1, other.changed)},
        {"unknown version", stateBytes(k.magic, 2, k.changed)},
        {"wrong count", stateBytes(k.magic, 1, tooMany)},
        {"value out of range", stateBytes(k.magic, 1, outOfRange)},
        {"random bytes", noise},
    };
    for (const Case& c : cases) {
        HRESULT hr = load(c.bytes);
        EXPECT_TRUE(FAILED(hr)) << c.what;
        EXPECT_EQ(values(params.get()), before) << c.what;
    }
    EXPECT_EQ(persist->Load(nullptr), E_POINTER);
    EXPECT_EQ(persist->Save(nullptr, TRUE), E_POINTER);
    EXPECT_EQ(persist->GetSizeMax(nullptr), E_POINTER);
    EXPECT_EQ(persist->GetClassID(nullptr), E_POINTER);
    // The good bytes still load after all that.
    EXPECT_EQ(load(good), S_OK);
    EXPECT_EQ(values(params.get()), k.changed);
}

INSTANTIATE_TEST_SUITE_P(SampleFilters, PersistenceTest, ::testing::ValuesIn(kKinds),
                         [](const ::testing::TestParamInfo<Kind>& info) {
                             return std::string(info.param.dll).substr(0, std::string(info.param.dll).find('.'));
                         });

}  // namespace
