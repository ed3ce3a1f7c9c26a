// The private interface through which a sample filter's property page (and tests)
// read and change the filter's integer settings.
#pragma once

#include <windows.h>
#include <unknwn.h>
#include <cstdint>

// {FDC1FC1A-EAA6-41CE-9534-FFF78B08DBA4}
inline const GUID IID_ISampleParameters = {0xFDC1FC1A, 0xEAA6, 0x41CE, {0x95, 0x34, 0xFF, 0xF7, 0x8B, 0x08, 0xDB, 0xA4}};

struct ParameterInfo {
    const char* label;
    int32_t minimum;
    int32_t maximum;
    int32_t initial;
};

class ISampleParameters : public IUnknown {
public:
    virtual int32_t STDMETHODCALLTYPE parameterCount() = 0;
    // Pointers in the record stay valid while the DLL is loaded.
    virtual HRESULT STDMETHODCALLTYPE parameterInfo(int32_t index, ParameterInfo* out) = 0;
    virtual HRESULT STDMETHODCALLTYPE getParameter(int32_t index, int32_t* value) = 0;
    // E_INVALIDARG for an unknown index or a value outside the range; nothing changes.
    virtual HRESULT STDMETHODCALLTYPE setParameter(int32_t index, int32_t value) = 0;
};
