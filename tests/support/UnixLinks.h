// Links made from the Linux side, where they can be made (Wine's CreateSymbolicLinkW makes nothing): Wine
// runs a Unix program started with CreateProcessW. Only paths on drive Z: (the Linux root) are handled.
#pragma once

#include <string>

namespace testsupport {

// "Z:\a\b" (either separator) as the Linux path "/a/b".
std::string unixPathOf(const std::wstring& zPath);

// Makes link a Unix symbolic link to target, replacing a link that is there, and waits until it resolves to
// target. Fails the test when it does not.
void pointUnixLink(const std::wstring& link, const std::wstring& target);

// Removes a tree from the Linux side (rm -rf never follows a link) and waits until it is gone.
void removeUnixTree(const std::wstring& path);

// A scratch folder on drive Z: with two folders "one" and "two" and a link "temp" pointing at "one": a TEMP
// that a test re-points as an attacker re-points a junction. Removed from the Linux side when it goes.
class SwitchableTemp {
public:
    SwitchableTemp();
    ~SwitchableTemp();
    SwitchableTemp(const SwitchableTemp&) = delete;
    SwitchableTemp& operator=(const SwitchableTemp&) = delete;

    std::wstring link() const { return base + L"\\temp"; }
    std::wstring one() const { return base + L"\\one"; }
    std::wstring two() const { return base + L"\\two"; }
    void pointAt(const std::wstring& folder) { pointUnixLink(link(), folder); }

private:
    std::wstring base;
};

}  // namespace testsupport
