#include "app/compare.h"

#include <cstdint>

#include "app/command_line.h"
#include "app/console.h"
#include "report/compare.h"
#include "report/results.h"
#include "sys/file_info.h"
#include "sys/utils.h"

namespace app {
namespace {

// Far above the largest result (500,000 samples, about 90 MB); a bigger file is no result of
// Trevalo's.
constexpr size_t kMostResultBytes = size_t{256} << 20;

bool ReadResult(const std::string& path, bench::RunRecord& record, std::string& message) {
    const std::string quoted = "\"" + report::TerminalText(path, true) + "\"";
    std::string reason;
    switch (sys::KindOfFile(path)) {
        case sys::FileKind::kDirectory:
            reason = "is a directory, not a result file";
            break;
        case sys::FileKind::kSpecial:
            reason = "is not a regular file (a FIFO, socket or device)";
            break;
        case sys::FileKind::kMissing:
        case sys::FileKind::kRegular: {
            std::vector<uint8_t> bytes;
            if (!sys::ReadFileBytes(path, bytes, kMostResultBytes)) {
                message = "\nCannot read " + quoted + ": " + CUtils::GetLastErrorText() + "\n";
                return false;
            }
            const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
            if (report::ReadResultFile(text, record, reason)) {
                return true;
            }
        }
    }
    // A reason may quote the file ("its run ended with ...").
    message = "\n" + quoted + " " + report::TerminalText(reason) + "\n";
    return false;
}

}  // namespace

int RunCompare(const std::vector<std::string>& args) {
    std::string files[2];
    std::string message;
    bench::RunRecord records[2];
    if (ParseCompareArguments(args, files[0], files[1], message)) {
        for (int i = 0; i < 2 && message.empty(); ++i)
            ReadResult(files[i], records[i], message);
    }
    if (!message.empty()) return Stop(message);
    // Every text from the files is escaped: no NUL in it ends the output.
    g_utils.Print(true, kNoColor, "%s\n",
                  report::ComparisonText(records[0], records[1], files[0], files[1]).c_str());
    return 0;
}

}  // namespace app
