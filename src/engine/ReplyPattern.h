#pragma once
// Reply patterns of a web gate: regular expressions (PCRE2, the flavour of Qt's
// QRegularExpression, with ECMAScript's \uhhhh and \xhh escapes) that classify
// the body of a 2xx reply. They match anywhere in the body, without regard to
// letter case, Cyrillic CP1251 letters included.
#include <memory>
#include <optional>
#include <string>
#include <string_view>

class TStdSmsSender;

// Nothing when the pattern is empty or valid; otherwise the Russian error text
// (for the operators window, to refuse a pattern where it is entered).
std::optional<std::string> CheckReplyPattern(const std::string& pattern);

// One pattern compiled once for many bodies (the message id in a send reply,
// the verdicts of status replies), with the same syntax, case rules and
// limits as the reply patterns.
class TCompiledPattern {
public:
    // Raises TError with the Russian reason (CheckReplyPattern's text) when the
    // pattern does not compile. An empty pattern matches nothing.
    explicit TCompiledPattern(const std::string& pattern);
    ~TCompiledPattern();
    TCompiledPattern(const TCompiledPattern&) = delete;
    TCompiledPattern& operator=(const TCompiledPattern&) = delete;

    bool Empty() const { return FCode == nullptr; }
    // The pattern matches somewhere in the body. Raises TError when the
    // matching exceeds its limits.
    bool Matches(std::string_view body) const;
    // The text of the first group that took part in the match (the whole match
    // when the pattern has no group), as the body has it; nothing when it does
    // not match.
    std::optional<std::string> Capture(std::string_view body) const;

private:
    struct TCodeHolder;
    std::unique_ptr<TCodeHolder> FCode;
};

// The three patterns of one operator, compiled for one delivery.
class TReplyRules {
public:
    // Raises TError naming the operator and the pattern when one does not
    // compile, so that a bad pattern stops the delivery before anything is sent.
    explicit TReplyRules(const TStdSmsSender& sender);
    ~TReplyRules();
    TReplyRules(const TReplyRules&) = delete;
    TReplyRules& operator=(const TReplyRules&) = delete;

    // No pattern is set: every 2xx reply is a delivery, its body unread.
    bool Empty() const;

    // Judges the body (CP1251) of a 2xx reply: returns when it says delivered;
    // raises TPermanentError when it matches the permanent-failure pattern,
    // TError when it matches the temporary-failure pattern or misses the ok
    // pattern that is set (and when the matching exceeds its limits).
    void Judge(std::string_view body) const;

    // "Шлюз отклонил сообщение: " and the first non-blank line of the body, at
    // most 200 characters, control characters as blanks.
    static std::string RefusalText(std::string_view body);

private:
    class TPattern;
    std::string FSenderName;
    std::unique_ptr<TPattern> FOk, FTempFail, FPermFail;
};
