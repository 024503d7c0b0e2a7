// One row of the hardening report, built from what a case observed: every check both asserts and records,
// so a row can only claim what the run saw. Written into the results folder when the case ends.
#pragma once

#include <map>
#include <string>
#include <vector>

class CaseResult {
public:
    CaseResult(const std::string& name, const std::string& tried);
    ~CaseResult();
    CaseResult(const CaseResult&) = delete;
    CaseResult& operator=(const CaseResult&) = delete;

    // Asserts the observation and records it under "held", or under "failed" when it did not hold.
    void check(bool held, const std::string& what);
    // Adds to a count of the row ("attacks", "left", ...).
    void count(const std::string& key, long long amount);

private:
    std::string name;
    std::string tried;
    std::vector<std::string> held;
    std::vector<std::string> failed;
    std::map<std::string, long long> counts;
};
