// minisynth's lexer and parser on a whole script; parsed, never run.
#include <cstddef>
#include <cstdint>
#include <string>

#include "script/parser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    try {
        ms::script::Parse(std::string(reinterpret_cast<const char*>(data), size), "fuzz.avs");
    } catch (const ms::Error&) {
    }
    return 0;
}
