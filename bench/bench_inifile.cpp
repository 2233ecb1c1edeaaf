// Times the profile-file layer on an address book of 100,000 contacts:
// building, writing to bytes and disk, parsing, listing and looking up.
#include "storage/IniFile.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace {
double Ms(std::chrono::steady_clock::time_point since)
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - since).count();
}
} // namespace

int main(int argc, char** argv)
{
    const int sections = argc > 1 ? std::atoi(argv[1]) : 100000;
    const std::string path =
        (std::filesystem::temp_directory_path() / ("velotext-inibench-" + std::to_string(getpid()) + ".ini")).string();

    auto t = std::chrono::steady_clock::now();
    TIniFile ini;
    ini.SetFileName(path);
    for (int i = 0; i < sections; ++i) {
        std::string name = "Contact " + std::to_string(i);
        std::string section = "Contact:TContact:" + name;
        ini.WriteInteger(section, "ContactId", i + 1);
        ini.WriteString(section, "Name", name);
        ini.WriteString(section, "PhoneNumber", "+7916" + std::to_string(1000000 + i));
        ini.WriteString(section, "SmsSenderName", "Operator");
    }
    std::printf("build %d sections: %.1f ms\n", sections, Ms(t));

    t = std::chrono::steady_clock::now();
    ini.Save();
    std::printf("save to disk (%ju bytes): %.1f ms\n", static_cast<uintmax_t>(std::filesystem::file_size(path)), Ms(t));

    t = std::chrono::steady_clock::now();
    TIniFile loaded(path);
    std::printf("load from disk: %.1f ms\n", Ms(t));

    t = std::chrono::steady_clock::now();
    auto names = loaded.ReadSections();
    std::printf("list %zu section names: %.1f ms\n", names.size(), Ms(t));

    t = std::chrono::steady_clock::now();
    long sum = 0;
    for (auto it = names.rbegin(); it != names.rend(); ++it) {
        sum += loaded.ReadInteger(*it, "ContactId", 0);
        sum += static_cast<long>(loaded.ReadString(*it, "Name", "").size());
        sum += static_cast<long>(loaded.ReadString(*it, "PhoneNumber", "").size());
        sum += static_cast<long>(loaded.ReadString(*it, "SmsSenderName", "").size());
    }
    std::printf("read every key of every section: %.1f ms (checksum %ld)\n", Ms(t), sum);

    t = std::chrono::steady_clock::now();
    for (int i = 0; i < sections; i += 2)
        loaded.EraseSection("contact:tcontact:contact " + std::to_string(i));
    std::printf("erase half of the sections: %.1f ms (%zu left)\n", Ms(t), loaded.ReadSections().size());

    std::filesystem::remove(path);
    return 0;
}
