#include "CaseResult.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "TestSupport.h"
#include "tstrings.h"

namespace {

std::string joined(const std::vector<std::string>& parts) {
    std::string text;
    for (const std::string& part : parts) {
        text += (text.empty() ? "" : "; ") + part;
    }
    return text;
}

}  // namespace

CaseResult::CaseResult(const std::string& name, const std::string& tried) : name(name), tried(tried) {}

CaseResult::~CaseResult() {
    std::string countText;
    for (const auto& [key, value] : counts) {
        countText += (countText.empty() ? "" : ";") + key + "=" + std::to_string(value);
    }
    // A case that stopped at a fatal assertion has fewer observations than it should: it is a failure too.
    if (failed.empty() && ::testing::Test::HasFailure()) {
        failed.push_back("the case stopped before it was done");
    }
    const std::string outcome = failed.empty() ? joined(held) : "FAILED: " + joined(failed);
    testsupport::writeFileBytes(
        tstrings::fromMultiByte(KRO_HARDENING_RESULTS) + L"\\" + tstrings::fromMultiByte(name) + L".tsv",
        name + "\t" + tried + "\t" + outcome + "\t" + countText + "\n");
}

void CaseResult::check(bool observed, const std::string& what) {
    EXPECT_TRUE(observed) << what;
    std::vector<std::string>& list = observed ? held : failed;
    if (std::find(list.begin(), list.end(), what) == list.end()) {
        list.push_back(what);
    }
}

void CaseResult::count(const std::string& key, long long amount) {
    counts[key] += amount;
}
