#include <gtest/gtest.h>

#include <string>

#include "FunctionName.h"

// Functions of every shape, each returning the name that its own code site would carry.
namespace {
const char* freeInAnonymous() {
    return KRO_FUNCTION;
}
}  // namespace

namespace outer {
namespace inner {
const char* nested() {
    return KRO_FUNCTION;
}
namespace {
const wchar_t* wideInAnonymous() {
    return KRO_WFUNCTION;
}
struct Step {
    const char* execute(int, const std::string&) const { return KRO_FUNCTION; }
};
}  // namespace
}  // namespace inner
}  // namespace outer

namespace shapes {
struct Widget {
    const char* ctorName = nullptr;
    Widget() : ctorName(KRO_FUNCTION) {}
    static const char* create() { return KRO_FUNCTION; }
    const char* operator()(int) const { return KRO_FUNCTION; }
    const char* operator<(const Widget&) const { return KRO_FUNCTION; }
};
template <class Signature>
struct Bound {
    static const char* lastName;
    operator Signature() const {
        lastName = KRO_FUNCTION;
        return nullptr;
    }
};
template <class Signature>
const char* Bound<Signature>::lastName = nullptr;

template <class T>
const char* generic(T) {
    return KRO_FUNCTION;
}
std::basic_string<wchar_t> returnsTemplate(const char** name) {
    *name = KRO_FUNCTION;
    return {};
}
}  // namespace shapes

TEST(FunctionName, NamesFreeFunctionsWithoutReturnTypeOrParameters) {
    EXPECT_STREQ("`anonymous-namespace'::freeInAnonymous", freeInAnonymous());
    EXPECT_STREQ("outer::inner::nested", outer::inner::nested());
    const char* name = nullptr;
    shapes::returnsTemplate(&name);
    EXPECT_STREQ("shapes::returnsTemplate", name);
}

TEST(FunctionName, SpellsUnnamedNamespacesInsideNamedOnes) {
    EXPECT_STREQ(L"outer::inner::`anonymous-namespace'::wideInAnonymous", outer::inner::wideInAnonymous());
    EXPECT_STREQ("outer::inner::`anonymous-namespace'::Step::execute", outer::inner::Step().execute(1, ""));
}

TEST(FunctionName, NamesMembersConstructorsAndOperators) {
    const shapes::Widget widget;
    EXPECT_STREQ("shapes::Widget::Widget", widget.ctorName);
    EXPECT_STREQ("shapes::Widget::create", shapes::Widget::create());
    EXPECT_STREQ("shapes::Widget::operator()", widget(1));
    EXPECT_STREQ("shapes::Widget::operator<", widget < widget);
}

TEST(FunctionName, NamesTemplateInstancesWithTheirArguments) {
    using Fn = int (*)(int);
    shapes::Bound<Fn> bound;
    (void)static_cast<Fn>(bound);
    EXPECT_STREQ("shapes::Bound<int (*)(int)>::operator int (*)(int)", shapes::Bound<Fn>::lastName);
    EXPECT_STREQ("shapes::generic", shapes::generic(3));
}

TEST(FunctionName, ParsesGccSignatures) {
    struct Row {
        const char* pretty;
        const char* expected;
    };
    static constexpr Row rows[] = {
        {"int {anonymous}::run()", "`anonymous-namespace'::run"},
        {"void FileUtils::{anonymous}::createDir(const std::wstring&)",
         "FileUtils::`anonymous-namespace'::createDir"},
        {"std::wstring tstrings::unsafe_format(const wchar_t*, ...)", "tstrings::unsafe_format"},
        {"bool FileUtils::{anonymous}::BatchDeleter::execute()",
         "FileUtils::`anonymous-namespace'::BatchDeleter::execute"},
        {"std::map<int, std::pair<int, int> > ns::f(int (*)(int))", "ns::f"},
        {"DllFunction<Signature>::operator Signature() const [with Signature = int (*)(_OSVERSIONINFOEXW*)]",
         "DllFunction<int (*)(_OSVERSIONINFOEXW*)>::operator int (*)(_OSVERSIONINFOEXW*)"},
        {"T ns::A<T, N>::get() [with T = long; long long unsigned int N = 4]", "ns::A<long, 4>::get"},
        {"void* operator new(std::size_t)", "operator new"},
        {"bool ns::X::operator==(const ns::X&) const", "ns::X::operator=="},
        {"ns::X& ns::X::operator<<(int)", "ns::X::operator<<"},
        {"Operatorless::Operatorless()", "Operatorless::Operatorless"},
        {"static const char* ns::Y::make()", "ns::Y::make"},
        {"INT_PTR (* Dll::getFunction(const std::string&, bool) const)()", "Dll::getFunction"},
        {"void (& ns::table(int))[4]", "ns::table"},
        {"void ns::X::operator()(int)", "ns::X::operator()"},
    };
    for (const Row& row : rows) {
        char text[200] = {};
        const std::size_t length = kro::function_name::compose(row.pretty, text);
        EXPECT_EQ(std::string(row.expected), std::string(text, length)) << "pretty: " << row.pretty;
        EXPECT_EQ(length, kro::function_name::compose<char>(row.pretty, nullptr)) << row.pretty;
    }
}
