// The command line: the data split at zero bytes into arguments.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "app/command_line.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::string> args(1);
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == 0) {
            args.emplace_back();
        } else {
            args.back() += static_cast<char>(data[i]);
        }
    }
    RunSettings settings;
    settings.AutoCompleteExtension = size > 0 && (data[0] & 1);
    CommandLineRequest request;
    std::string message;
    ParseArguments(args, settings, request, message);
    std::string first, second;
    if (IsCompareCommand(args)) ParseCompareArguments(args, first, second, message);
    return 0;
}
