// The manual documents every switch that the usage text names, in the HTML page and the man
// page, and every key of the INI file, so that neither can go undocumented.
#include <fstream>
#include <regex>
#include <set>
#include <sstream>

#include "app/config.h"
#include "e2e/e2e.h"

namespace e2e {
namespace {

std::string ReadAll(const char* path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST_F(Trevalo, TheManualDocumentsEverySwitchAndIniKey) {
    const std::string usage = Run({}).out;
    const std::regex token(R"((?:^|[\s\[])(-[a-z]+))");
    std::set<std::string> switches;
    for (std::sregex_iterator it(usage.begin(), usage.end(), token), end; it != end; ++it)
        switches.insert((*it)[1]);
    ASSERT_FALSE(switches.empty()) << usage;
    const std::pair<const char*, std::string> pages[] = {
        {"Trevalo.html", ReadAll(TREVALO_HTML)},
        // The man page writes a switch's dash as "\-".
        {"trevalo.1", std::regex_replace(ReadAll(TREVALO_MAN), std::regex(R"(\\-)"), "-")}};
    for (const auto& [name, page] : pages) {
        for (const std::string& s : switches) {
            EXPECT_TRUE(std::regex_search(page, std::regex("(^|[^a-z])" + s + "(?![a-z])")))
                << s << " is missing from " << name;
        }
    }
    // A key needs an entry of its own, beyond the listing of the defaults.
    for (const std::string& line : DefaultIniLines(ProgramVersion())) {
        const size_t equals = line.find('=');
        if (equals == std::string::npos) continue;
        const std::string key = "<code>" + line.substr(0, equals) + "</code>";
        EXPECT_TRUE(Contains(pages[0].second, key)) << key << " in Trevalo.html";
    }
}

}  // namespace
}  // namespace e2e
