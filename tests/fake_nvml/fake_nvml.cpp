// A stand-in for the NVIDIA management library, with fixed readings, for the tests. FAKE_NVML
// picks a case: unset, one device; "none", no device; "failing", every reading fails.
#include <cstdlib>
#include <cstring>

namespace {

bool Mode(const char* mode) {
    const char* value = std::getenv("FAKE_NVML");
    return value != nullptr && std::strcmp(value, mode) == 0;
}

int Reading() {
    return Mode("failing") ? 999 : 0;
}

int Copy(const char* text, char* out, unsigned int length) {
    if (length <= std::strlen(text)) return 7;  // insufficient size
    std::strcpy(out, text);
    return 0;
}

int g_device;

}  // namespace

extern "C" {

int nvmlInit_v2() {
    return 0;
}
int nvmlShutdown() {
    return 0;
}
int nvmlDeviceGetCount_v2(unsigned int* count) {
    return (*count = Mode("none") ? 0 : 1, 0);
}
int nvmlDeviceGetHandleByIndex_v2(unsigned int, void** device) {
    return (*device = &g_device, 0);
}
int nvmlDeviceGetUtilizationRates(void*, unsigned int* rates) {
    rates[0] = 37;  // gpu, then memory
    rates[1] = 5;
    return Reading();
}
int nvmlDeviceGetEncoderUtilization(void*, unsigned* load, unsigned*) {
    return (*load = 10, Reading());
}
int nvmlDeviceGetDecoderUtilization(void*, unsigned* load, unsigned*) {
    return (*load = 12, Reading());
}
int nvmlDeviceGetMemoryInfo(void*, unsigned long long* memory) {
    memory[0] = 8ull << 30;                        // total
    memory[2] = (1536ull << 20) + (300ull << 10);  // used
    memory[1] = memory[0] - memory[2];
    return Reading();
}
int nvmlDeviceGetName(void*, char* name, unsigned int n) {
    return Copy("Fake GeForce", name, n);
}
int nvmlSystemGetDriverVersion(char* v, unsigned int n) {
    return Copy("535.98", v, n);
}
int nvmlSystemGetNVMLVersion(char* v, unsigned int n) {
    return Copy("12.535.98", v, n);
}
int nvmlDeviceGetCudaComputeCapability(void*, int* major, int* minor) {
    return (*major = 8, *minor = 6, 0);
}

}  // extern "C"
