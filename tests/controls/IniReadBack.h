// Reads an INI file with python3's configparser, a reader independent of ours, as "section|key|value" lines.
#pragma once

#include <cstdio>
#include <fstream>
#include <optional>
#include <string>
#include <sys/wait.h>

namespace rv::test {

// nullopt when python3 is not on the machine; a failing configparser returns its error text.
inline std::optional<std::string> ReadWithConfigParser(const std::string& iniPath, const std::string& scratchDir)
{
    const std::string script = scratchDir + "/read_ini.py";
    std::ofstream(script) << "import configparser, sys\n"
                             "c = configparser.ConfigParser(interpolation=None, strict=True)\n"
                             "c.optionxform = str\n"
                             "with open(sys.argv[1], encoding='utf-8') as f:\n"
                             "    c.read_file(f)\n"
                             "out = ''.join(f'{s}|{k}|{v}\\n' for s in c.sections() for k, v in c.items(s))\n"
                             "sys.stdout.buffer.write(out.encode('utf-8'))\n";
    const std::string cmd = "python3 '" + script + "' '" + iniPath + "' 2>&1";
    FILE* p = ::popen(cmd.c_str(), "r");
    if (!p) return std::nullopt;
    std::string out;
    char buf[4096];
    size_t n = 0;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    const int status = ::pclose(p);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 127) return std::nullopt;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return "configparser failed: " + out;
    return out;
}

}  // namespace rv::test
