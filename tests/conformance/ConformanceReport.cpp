#include "ConformanceReport.h"

#include <algorithm>
#include <cstdio>
#include <numeric>

ConformanceReport::ConformanceReport(bool timing) : timingMode(timing) {}

void ConformanceReport::check(const std::string& label, const std::string& call, long result,
                              const std::string& returned)
{
    ++checks;
    if (timingMode)
        return;
    std::string line = label + " " + call + " -> " + code(result);
    if (!returned.empty())
        line += " | " + returned;
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

void ConformanceReport::printTimings() const
{
    for (const auto& entry : timings) {
        std::vector<long long> sorted = entry.second;
        std::sort(sorted.begin(), sorted.end());
        const size_t calls = sorted.size();
        const long long total = std::accumulate(sorted.begin(), sorted.end(), 0LL);
        // Nearest-rank percentiles: always a duration that was measured.
        const auto percentile = [&](size_t percent) {
            const size_t rank = (calls * percent + 99) / 100;
            return double(sorted[rank > 0 ? rank - 1 : 0]) / 1000.0;
        };
        // The count as text: the Windows C runtime does not read every size
        // modifier the way the GNU one does.
        std::printf("%s %s %.2f %.2f %.2f\n", entry.first.c_str(), std::to_string(calls).c_str(),
                    double(total) / double(calls) / 1000.0, percentile(50), percentile(99));
    }
    std::fflush(stdout);
}

std::string ConformanceReport::code(long result)
{
    switch (result) {
    case 0:
        return "0";
    case 2:
        return "2 FILE_NOT_FOUND";
    case 3:
        return "3 PATH_NOT_FOUND";
    case 5:
        return "5 ACCESS_DENIED";
    case 6:
        return "6 INVALID_HANDLE";
    case 87:
        return "87 INVALID_PARAMETER";
    case 161:
        return "161 BAD_PATHNAME";
    case 234:
        return "234 MORE_DATA";
    case 259:
        return "259 NO_MORE_ITEMS";
    case 998:
        return "998 NOACCESS";
    case 1010:
        return "1010 BADKEY";
    case 1018:
        return "1018 KEY_DELETED";
    case 1020:
        return "1020 KEY_HAS_CHILDREN";
    case 1605:
        return "1605 UNKNOWN_PRODUCT";
    case 1608:
        return "1608 UNKNOWN_PROPERTY";
    default:
        return std::to_string(result);
    }
}

std::string ConformanceReport::hex(const BYTE* bytes, DWORD count)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (DWORD i = 0; i < count; ++i) {
        if (i)
            out += ' ';
        out += digits[bytes[i] >> 4];
        out += digits[bytes[i] & 0xf];
    }
    return out.empty() ? "(none)" : out;
}

// Printable ASCII as is; everything else as \uXXXX so that both builds print
// the same bytes whatever their console encoding.
std::string ConformanceReport::text(const WCHAR* units, size_t count)
{
    static const char digits[] = "0123456789abcdef";
    std::string out = "\"";
    for (size_t i = 0; i < count; ++i) {
        const unsigned unit = static_cast<unsigned>(units[i]) & 0xffffu;
        if (unit >= 0x20 && unit < 0x7f && unit != '\\' && unit != '"') {
            out += static_cast<char>(unit);
        } else if (unit == '\\' || unit == '"') {
            out += '\\';
            out += static_cast<char>(unit);
        } else {
            out += "\\u";
            for (int shift = 12; shift >= 0; shift -= 4)
                out += digits[(unit >> shift) & 0xf];
        }
    }
    return out + "\"";
}

std::string ConformanceReport::text(const WString& units)
{
    return text(units.data(), units.size());
}

std::string ConformanceReport::number(unsigned long long value)
{
    return std::to_string(value);
}
