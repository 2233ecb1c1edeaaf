#include "support/KannelPeer.h"

#include "support/PeerProcess.h"

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <exception>
#include <fstream>
#include <thread>

namespace {

// Percent-decoding with "+" as a blank, as the fake SMSC logs binary text.
std::string UrlDecode(const std::string& s)
{
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '+') {
            out.push_back(' ');
        } else if (s[i] == '%' && i + 2 < s.size()) {
            out.push_back(static_cast<char>(std::stoi(s.substr(i + 1, 2), nullptr, 16)));
            i += 2;
        } else {
            out.push_back(s[i]);
        }
    }
    return out;
}

// UCS-2 big-endian to UTF-8 (the basic plane is all an SMS carries here).
std::string Ucs2ToUtf8(const std::string& bytes)
{
    std::string out;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        unsigned cp = (static_cast<unsigned char>(bytes[i]) << 8) | static_cast<unsigned char>(bytes[i + 1]);
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }
    return out;
}

} // namespace

std::unique_ptr<TPeerProcess> StartKannel(std::string& error)
{
    try {
        return std::make_unique<TPeerProcess>(std::vector<std::string>{"bash", PeerScript("kannel.sh")}, 60);
    } catch (const std::exception& e) {
        error = e.what();
        return nullptr;
    }
}

std::string KannelArrivedText(const std::string& logPath, const std::string& phone)
{
    const std::string marker = "<5555 " + phone + " ucs-2 ";
    for (int i = 0; i < 300; ++i) {
        std::ifstream log(logPath);
        std::string line;
        while (std::getline(log, line)) {
            size_t at = line.find(marker);
            if (at == std::string::npos)
                continue;
            size_t start = at + marker.size();
            size_t end = line.rfind('>');
            return Ucs2ToUtf8(UrlDecode(line.substr(start, end - start)));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return "";
}

std::string KannelWebGate(const TPeerProcess& peer, const std::string& charset, const std::string& password)
{
    return "http://127.0.0.1:" + peer.value("port") + "/cgi-bin/sendsms?username=" + peer.value("user") +
           "&password=" + (password.empty() ? peer.value("pass") : password) +
           "&to={phone}&text={message}&charset=" + charset + "&coding=2";
}

std::vector<std::string> KannelArrivedPhones(const std::string& logPath)
{
    const std::string marker = "<5555 ";
    std::vector<std::string> phones;
    std::ifstream log(logPath);
    std::string line;
    while (std::getline(log, line)) {
        const size_t at = line.find(marker);
        if (at == std::string::npos)
            continue;
        const size_t start = at + marker.size();
        phones.push_back(line.substr(start, line.find(' ', start) - start));
    }
    return phones;
}

size_t KannelSettledCount(const std::string& logPath)
{
    size_t count = KannelArrivedPhones(logPath).size();
    for (int quiet = 0, i = 0; quiet < 5 && i < 100; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        const size_t now = KannelArrivedPhones(logPath).size();
        quiet = now == count ? quiet + 1 : 0;
        count = now;
    }
    return count;
}

std::vector<std::string> KannelPhonesAfter(const std::string& logPath, size_t before, size_t expected)
{
    std::vector<std::string> phones;
    for (int i = 0; i < 300; ++i) {
        phones = KannelArrivedPhones(logPath);
        if (phones.size() >= before + expected)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    std::this_thread::sleep_for(std::chrono::seconds(1)); // room for messages that should not come
    phones = KannelArrivedPhones(logPath);
    phones.erase(phones.begin(), phones.begin() + static_cast<std::ptrdiff_t>(std::min(before, phones.size())));
    return phones;
}
