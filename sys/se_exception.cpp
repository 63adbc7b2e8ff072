// Names of the structured-exception codes and the mapping of faults to them.
#include "sys/se_exception.h"

namespace {

struct CodeName {
    uint32_t code;
    const char* name;
};

constexpr CodeName kCodeNames[] = {
    {0x80000001u, "STATUS_GUARD_PAGE_VIOLATION"},
    {0x80000002u, "STATUS_DATATYPE_MISALIGNMENT"},
    {0x80000003u, "STATUS_BREAKPOINT"},
    {0x80000004u, "STATUS_SINGLE_STEP"},
    {0xC0000005u, "STATUS_ACCESS_VIOLATION"},
    {0xC0000006u, "STATUS_IN_PAGE_ERROR"},
    {0xC0000008u, "STATUS_INVALID_HANDLE"},
    {0xC0000017u, "STATUS_NO_MEMORY"},
    {0xC000001Du, "STATUS_ILLEGAL_INSTRUCTION"},
    {0xC0000025u, "STATUS_NONCONTINUABLE_EXCEPTION"},
    {0xC0000026u, "STATUS_INVALID_DISPOSITION"},
    {0xC000008Cu, "STATUS_ARRAY_BOUNDS_EXCEEDED"},
    {0xC000008Du, "STATUS_FLOAT_DENORMAL_OPERAND"},
    {0xC000008Eu, "STATUS_FLOAT_DIVIDE_BY_ZERO"},
    {0xC000008Fu, "STATUS_FLOAT_INEXACT_RESULT"},
    {0xC0000090u, "STATUS_FLOAT_INVALID_OPERATION"},
    {0xC0000091u, "STATUS_FLOAT_OVERFLOW"},
    {0xC0000092u, "STATUS_FLOAT_STACK_CHECK"},
    {0xC0000093u, "STATUS_FLOAT_UNDERFLOW"},
    {0xC0000094u, "STATUS_INTEGER_DIVIDE_BY_ZERO"},
    {0xC0000095u, "STATUS_INTEGER_OVERFLOW"},
    {0xC0000096u, "STATUS_PRIVILEGED_INSTRUCTION"},
    {0xC00000FDu, "STATUS_STACK_OVERFLOW"},
    {0xC0000135u, "STATUS_DLL_NOT_FOUND"},
    {0xC0000142u, "STATUS_DLL_INIT_FAILED"},
    {0xC06D007Eu, "Delay-load module not found"},
    {0xC06D007Fu, "Delay-load procedure not found"},
};

constexpr uint32_t kAccessViolation = 0xC0000005u;
constexpr uint32_t kIllegalInstruction = 0xC000001Du;
constexpr uint32_t kFloatDivideByZero = 0xC000008Eu;
constexpr uint32_t kFloatInvalidOperation = 0xC0000090u;
constexpr uint32_t kIntegerDivideByZero = 0xC0000094u;
constexpr uint32_t kIntegerOverflow = 0xC0000095u;
constexpr uint32_t kStackOverflow = 0xC00000FDu;

}  // namespace

size_t FormatExceptionText(uint32_t code, char* buffer, size_t size) {
    if (size == 0) return 0;
    const char* name = "Unknown system exception";
    for (const CodeName& entry : kCodeNames) {
        if (entry.code == code) {
            name = entry.name;
            break;
        }
    }
    // By hand rather than snprintf: a signal handler formats this too.
    size_t at = 0;
    const auto put = [&](char c) {
        if (at + 1 < size) buffer[at++] = c;
    };
    for (const char* p = "Exception 0x"; *p != '\0'; ++p)
        put(*p);
    for (int shift = 28; shift >= 0; shift -= 4)
        put("0123456789ABCDEF"[(code >> shift) & 0xFu]);
    put('\n');
    for (const char* p = name; *p != '\0'; ++p)
        put(*p);
    buffer[at] = '\0';
    return at;
}

std::string GetExceptionText(uint32_t code) {
    char buffer[512];
    const size_t length = FormatExceptionText(code, buffer, sizeof buffer);
    return std::string(buffer, length);
}

uint32_t FaultCodeFor(FaultKind kind, FaultDetail detail, bool onStackGuard) {
    switch (kind) {
        case FaultKind::kAccess:
            return onStackGuard ? kStackOverflow : kAccessViolation;
        case FaultKind::kIllegalInstruction:
            return kIllegalInstruction;
        case FaultKind::kArithmetic:
            switch (detail) {
                case FaultDetail::kIntegerDivide:
                    return kIntegerDivideByZero;
                case FaultDetail::kIntegerOverflow:
                    return kIntegerOverflow;
                case FaultDetail::kFloatDivide:
                    return kFloatDivideByZero;
                case FaultDetail::kNone:
                case FaultDetail::kOtherFloat:
                    break;
            }
            return kFloatInvalidOperation;
    }
    return kAccessViolation;
}
