#include "proc_stats.h"

#include <dirent.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

namespace bench {
namespace {

std::string readWhole(const std::string &path)
{
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

} // namespace

double cpuMs(pid_t pid)
{
    const std::string stat = readWhole("/proc/" + std::to_string(pid) + "/stat");
    // The command name may hold blanks and parentheses: fields are counted after the last ')'.
    const std::size_t nameEnd = stat.rfind(')');
    if (nameEnd == std::string::npos)
        return -1;
    std::istringstream fields(stat.substr(nameEnd + 2));
    std::string field;
    unsigned long long user = 0;
    unsigned long long system = 0;
    // After the name come state (field 3) ... utime (field 14) and stime (field 15).
    for (int index = 3; index <= 15 && fields >> field; ++index) {
        if (index == 14)
            user = std::stoull(field);
        if (index == 15)
            system = std::stoull(field);
    }
    return double(user + system) * 1000.0 / double(::sysconf(_SC_CLK_TCK));
}

long long cpuNs(pid_t pid)
{
    const std::string taskFolder = "/proc/" + std::to_string(pid) + "/task";
    DIR *tasks = ::opendir(taskFolder.c_str());
    if (tasks == nullptr)
        return -1;
    long long total = 0;
    bool any = false;
    while (const dirent *entry = ::readdir(tasks)) {
        if (entry->d_name[0] == '.')
            continue;
        long long onCpu = 0;
        std::ifstream schedstat(taskFolder + "/" + entry->d_name + "/schedstat");
        if (schedstat >> onCpu) {
            total += onCpu;
            any = true;
        }
    }
    ::closedir(tasks);
    return any ? total : -1;
}

long long residentBytes(pid_t pid)
{
    std::ifstream statm("/proc/" + std::to_string(pid) + "/statm");
    long long size = 0;
    long long resident = 0;
    if (!(statm >> size >> resident))
        return -1;
    return resident * ::sysconf(_SC_PAGESIZE);
}

} // namespace bench
