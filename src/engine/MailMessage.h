#pragma once
// The e-mail that the e-mail gate submits: one plain text part, headers in a
// fixed order, the subject and display names as RFC 2047 Q encoded words
// when they need it, long header lines folded.
#include "model/Clock.h"

#include <functional>
#include <string>
#include <string_view>
#include <vector>

// Turns a display name from the program's CP1251 into the header charset.
using TNameConverter = std::function<std::string(std::string_view)>;

struct TMailMessage {
    std::string From;        // sender: bare address or with a display name
    std::string To;          // recipient address text, possibly several separated by commas
    std::string Subject;     // already in the header charset; empty = no Subject line
    std::string MimeCharset; // MIME name of the charset of subject, names and body
    std::string Body;        // already in the body charset; lines end with CR LF, CR or LF
    TNameConverter ConvertName; // for the display names of From and To; empty = unchanged
};

// The message as lines without their CR LF: headers, an empty line, the body.
std::vector<std::string> ComposeMailLines(const TMailMessage& message, const TDateTime& now);
// Lines joined with CR LF after each one: the message text as it is measured and sent.
std::string JoinMailLines(const std::vector<std::string>& lines);

// True when a header text holds a byte below 32, a byte of 127 or more, the
// double quote or one of ( ) , / : ; < = > ? @ [ \ ].
bool NeedsEncodedWords(std::string_view text);
// The text as Q encoded words labelled with mimeCharset when it needs them,
// otherwise unchanged. Words are cut after a space once longer than 32 characters.
std::string EncodeHeaderText(std::string_view text, std::string_view mimeCharset);
// A header address: bare addresses unchanged, otherwise "name"<address> with the
// name encoded like the subject; a list of addresses is written piece by piece.
std::string MailAddressForm(std::string_view value, std::string_view mimeCharset,
                            const TNameConverter& convertName = {});
// Date and time in the RFC 5322 form, e.g. "Sun, 6 Dec 2026 22:49:42 +0300".
std::string Rfc5322Date(const TDateTime& when);
// A header line of 78 characters or more folded at blanks into lines shorter
// than 78 where the text allows; continuation lines start with the blank.
std::vector<std::string> FoldHeaderLine(std::string_view line);
// Body text split at CR LF, CR and LF; a final line break ends the last line
// and adds no empty line.
std::vector<std::string> SplitBodyLines(std::string_view body);
