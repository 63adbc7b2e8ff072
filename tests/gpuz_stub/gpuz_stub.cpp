// A stand-in for GPU-Z on Windows: a window titled like GPU-Z and the "GPUZShMem" block with
// a card and its sensors. Once both are up it creates the file argv[2] (when given), then
// keeps them for argv[1] seconds (default 60).
#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "sys/gpuz_block.h"

namespace {

void PutText(uint8_t* field, const char* text) {
    for (size_t i = 0; text[i] != '\0' && i + 1 < sys::kGpuzTextUnits; ++i)
        field[2 * i] = static_cast<uint8_t>(text[i]);  // ASCII as UTF-16LE
}

}  // namespace

int main(int argc, char** argv) {
    const DWORD seconds = argc > 1 ? static_cast<DWORD>(std::atoi(argv[1])) : 60;
    const HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                              sys::kGpuzBlockBytes, "GPUZShMem");
    if (mapping == nullptr) return 1;
    auto* block = static_cast<uint8_t*>(MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0));
    if (block == nullptr) return 1;
    static const char* const kCard[][2] = {
        {"CardName", "Stub Radeon"}, {"GPUName", "Stub GPU"},   {"MemSize", "4096 MB"},
        {"DriverVersion", "31.0.1"}, {"OpenCL_Version", "2.0"}, {"CUDA", "1"},
        {"CUDA_Capability", "7.5"},
    };
    for (size_t r = 0; r < sizeof kCard / sizeof kCard[0]; ++r) {
        uint8_t* record = block + sys::kGpuzDataOffset + r * sys::kGpuzDataRecordBytes;
        PutText(record, kCard[r][0]);
        PutText(record + 2 * sys::kGpuzTextUnits, kCard[r][1]);
    }
    static const struct {
        const char* name;
        double value;
    } kSensors[] = {{"GPU Load", 42.4}, {"Video Engine Load", 17.5}, {"Memory Used", 2048.0}};
    for (size_t r = 0; r < sizeof kSensors / sizeof kSensors[0]; ++r) {
        uint8_t* record = block + sys::kGpuzSensorOffset + r * sys::kGpuzSensorRecordBytes;
        PutText(record, kSensors[r].name);
        std::memcpy(record + sys::kGpuzSensorValueOffset, &kSensors[r].value, sizeof(double));
    }
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "GpuzStub";
    RegisterClassA(&windowClass);
    const HWND window =
        CreateWindowExA(0, "GpuzStub", "TechPowerUp GPU-Z 2.1.0", WS_OVERLAPPED, 0, 0, 100, 100,
                        nullptr, nullptr, windowClass.hInstance, nullptr);
    if (window == nullptr) return 2;
    if (argc > 2)
        CloseHandle(CreateFileA(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    const DWORD end = GetTickCount() + seconds * 1000;
    MSG message;
    while (GetTickCount() < end) {
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageA(&message);
        Sleep(50);
    }
    return 0;
}
