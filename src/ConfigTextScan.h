#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace google {
namespace protobuf {
class Descriptor;
class FieldDescriptor;
} // namespace protobuf
} // namespace google

// A configuration text in the protobuf text format, walked once against the
// message descriptors the way the text-format parser walks it, so that the
// parser can read it in one go afterwards: every field the schema does not
// know is reported, and every assignment of an enum value its enum does not
// know (which the parser would reject) is reported and blanked.

// Blocks, lists and bracketed names nested deeper than this are not walked
// into, nor may the parser be given them: it skips unknown fields
// recursively, and a text of nothing but '{' would use up its stack.
constexpr int kMaxConfigNesting = 100;

// A known message block the walk stands in: the field that holds it and
// which of that field's blocks in the enclosing message it is (0 for the
// first).
struct ConfigScanFrame {
    const google::protobuf::FieldDescriptor* field = nullptr;
    int index = 0;
};

struct ConfigScanFinding {
    size_t offset = 0; // of the field name in the text
    int line = 0;      // 1-based
    std::string field; // as written; a bracketed name with its brackets
    // The enum value the field's enum does not know, as the parser names it
    // (a number in decimal); empty for an unknown field.
    std::string value;
};

// Called for each finding in text order, with the known message blocks it
// stands in, outermost first.
using ConfigScanSink = std::function<void(const ConfigScanFinding&, const std::vector<ConfigScanFrame>&)>;

struct ConfigScanOutcome {
    // Where the text first nests deeper than kMaxConfigNesting (the opening
    // bracket), with the parser's line and column (1-based, a tab advancing
    // to the next multiple of 8); npos when it never does. The parser must be
    // given the text only up to there.
    size_t tooDeepAt = std::string::npos;
    int tooDeepLine = 0;
    int tooDeepColumn = 0;
};

// Walks `text` as a message of type `root`. Each "field: value" holding an
// enum value the enum does not know is blanked (with a ',' or ';' that ends
// it) by spaces; tabs and line breaks stay, so the parser's line and column
// of everything else stay too. Where the text stops making sense (a syntax
// error, a text cut short) the walk stops and leaves the rest to the parser,
// which then rejects it there.
ConfigScanOutcome ScanConfigText(std::string& text, const google::protobuf::Descriptor* root,
                                 const ConfigScanSink& sink);
