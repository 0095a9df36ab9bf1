// A small test harness for the Win32-side tests (GoogleTest does not build
// with mingw's win32 thread model): TEST(Suite, Name) registers a case;
// EXPECT_* report a failure and go on, ASSERT_* end the case; every check
// takes a message with <<. RunAllTests() runs every case, prints one line
// per case and returns the exit code (0 when all passed).
#pragma once

#include <stdio.h>

#include <functional>
#include <ostream>
#include <sstream>
#include <string>
#include <type_traits>
#include <vector>

namespace check {

struct Case {
    const char *suite, *name;
    void (*run)();
};

inline std::vector<Case> &Cases()
{
    static std::vector<Case> cases;
    return cases;
}

inline int &CaseFailures()
{
    static int failures;
    return failures;
}

struct Register {
    Register(const char *suite, const char *name, void (*run)())
    {
        Cases().push_back({suite, name, run});
    }
};

struct Abort {};  // ends the case after a failed ASSERT_*

// Collects the message of one failure; prints it when complete.
class Failure {
public:
    Failure(const char *file, int line, const std::string &what, bool fatal)
        : fatal_(fatal)
    {
        out_ << file << ":" << line << ": failure: " << what;
    }
    template <class T> Failure &operator<<(const T &value)
    {
        if (!noted_) out_ << "\n  note: ";
        noted_ = true;
        out_ << value;
        return *this;
    }
    ~Failure() noexcept(false)
    {
        fprintf(stdout, "%s\n", out_.str().c_str());
        fflush(stdout);
        CaseFailures()++;
        if (fatal_) throw Abort();
    }

private:
    std::ostringstream out_;
    bool fatal_, noted_ = false;
};

template <class T, class = void> struct Printable : std::false_type {};
template <class T>
struct Printable<T, std::void_t<decltype(std::declval<std::ostream &>() << std::declval<T>())>>
    : std::true_type {};

template <class T> std::string Show(const T &value)
{
    if constexpr (std::is_pointer_v<T>) {
        std::ostringstream out;
        out << (const void *)value;
        return out.str();
    } else if constexpr (Printable<const T &>::value) {
        std::ostringstream out;
        out << value;
        return out.str();
    } else {
        return "(value)";
    }
}
inline std::string Show(const std::string &value) { return "\"" + value + "\""; }
inline std::string Show(const char *value) { return value ? "\"" + std::string(value) + "\"" : "null"; }

struct Result {
    bool ok;
    std::string message;
    explicit operator bool() const { return ok; }
};

template <class A, class B, class Op>
Result Compare(const A &a, const B &b, const char *ta, const char *tb, const char *op, Op test)
{
    if (test(a, b)) return {true, std::string()};
    return {false, std::string(ta) + " " + op + " " + tb + "\n  left:  " + Show(a) +
                       "\n  right: " + Show(b)};
}

inline int RunAllTests()
{
    int failed = 0;
    for (const Case &c : Cases()) {
        printf("[ RUN      ] %s.%s\n", c.suite, c.name);
        fflush(stdout);
        CaseFailures() = 0;
        try {
            c.run();
        } catch (Abort &) {
        }
        printf("%s %s.%s\n", CaseFailures() ? "[  FAILED  ]" : "[       OK ]", c.suite, c.name);
        fflush(stdout);
        if (CaseFailures()) failed++;
    }
    printf("%d of %d cases passed\n", (int)Cases().size() - failed, (int)Cases().size());
    return failed ? 1 : 0;
}

}  // namespace check

#define TEST(suite, name)                                                   \
    static void suite##_##name();                                           \
    static ::check::Register suite##_##name##_registered(#suite, #name,     \
                                                         suite##_##name);   \
    static void suite##_##name()

#define CHECK_COMPARE_(a, b, op, fatal)                                                   \
    if (::check::Result check_result_ = ::check::Compare(                                 \
            (a), (b), #a, #b, #op, [](const auto &x, const auto &y) { return x op y; })) \
        ;                                                                                 \
    else                                                                                  \
        ::check::Failure(__FILE__, __LINE__, check_result_.message, fatal)

#define CHECK_BOOL_(c, expected, fatal)                                               \
    if (static_cast<bool>(c) == expected)                                             \
        ;                                                                             \
    else                                                                              \
        ::check::Failure(__FILE__, __LINE__, std::string(expected ? "" : "!") + #c, fatal)

#define EXPECT_TRUE(c) CHECK_BOOL_(c, true, false)
#define EXPECT_FALSE(c) CHECK_BOOL_(c, false, false)
#define ASSERT_TRUE(c) CHECK_BOOL_(c, true, true)
#define ASSERT_FALSE(c) CHECK_BOOL_(c, false, true)
#define EXPECT_EQ(a, b) CHECK_COMPARE_(a, b, ==, false)
#define EXPECT_NE(a, b) CHECK_COMPARE_(a, b, !=, false)
#define ASSERT_EQ(a, b) CHECK_COMPARE_(a, b, ==, true)
#define ASSERT_NE(a, b) CHECK_COMPARE_(a, b, !=, true)
