#pragma once

#include "ConformanceApi.h"

#include <chrono>
#include <map>
#include <string>
#include <vector>

// Collects the checks of one run. In check mode every check prints one line,
// "label call -> result | returned", so that two implementations running the
// same scenarios can be compared line by line. In timing mode nothing is
// printed per check; the calls wrapped in timed() are summed per API name.
class ConformanceReport
{
public:
    explicit ConformanceReport(bool timing);

    bool timing() const { return timingMode; }
    int checkCount() const { return checks; }

    // Runs one platform call and, in timing mode, adds its duration to the
    // figures of the named API. Returns what the call returned.
    template <typename Call> auto timed(const char* api, Call&& call) -> decltype(call())
    {
        const auto start = std::chrono::steady_clock::now();
        auto result = call();
        const auto end = std::chrono::steady_clock::now();
        if (timingMode) {
            timings[api].push_back(
                std::chrono::duration_cast<std::chrono::nanoseconds>(end - start).count());
        }
        return result;
    }

    // One check: what was called, the result code and what came back.
    void check(const std::string& label, const std::string& call, long result,
               const std::string& returned = std::string());

    // "api calls mean median p99" per API in microseconds, in name order: a
    // few slow calls can make the mean far from what a call usually costs.
    void printTimings() const;

    // Formatting of what calls return, shared by the scenarios.
    static std::string code(long result);
    static std::string hex(const BYTE* bytes, DWORD count);
    static std::string text(const WCHAR* units, size_t count);
    static std::string text(const WString& units);
    static std::string number(unsigned long long value);

private:
    bool timingMode;
    int checks = 0;
    // Every call's duration in nanoseconds, per API name.
    std::map<std::string, std::vector<long long>> timings;
};
