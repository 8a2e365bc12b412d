#include "ConfigTextScan.h"

#include <google/protobuf/descriptor.h>
#include <google/protobuf/io/tokenizer.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <string_view>
#include <utility>

namespace {

namespace pb = google::protobuf;

bool IsWhitespace(char c)
{
    return c == ' ' || c == '\n' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool IsLetter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
}

bool IsHexDigit(char c)
{
    return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

enum class TokenKind { End, Identifier, Integer, Float, String, Symbol };

// Splits the text into the tokens the parser's tokenizer makes of it, also
// where that tokenizer reports an error and reads on (a control character,
// a bad escape, a number run into a word): the walk and the nesting bound
// must see the brackets the parser sees. Strings and '#' comments end at a
// line break, as there.
class Tokenizer final {
public:
    explicit Tokenizer(std::string_view text) : text_(text) { Next(); }

    TokenKind Kind() const { return kind_; }
    size_t Begin() const { return begin_; }
    int Line() const { return line_; }
    std::string_view Text() const { return text_.substr(begin_, end_ - begin_); }
    bool Is(char symbol) const { return kind_ == TokenKind::Symbol && text_[begin_] == symbol; }
    // End of the token before the current one.
    size_t PreviousEnd() const { return previousEnd_; }
    size_t TooDeepAt() const { return tooDeepAt_; }

    void Next()
    {
        if (ended_) {
            return;
        }
        previousEnd_ = end_;
        SkipBlanks();
        begin_ = pos_;
        if (pos_ == text_.size()) {
            Stop();
            return;
        }
        const char c = text_[pos_++];
        if (IsLetter(c)) {
            while (pos_ < text_.size() && (IsLetter(text_[pos_]) || IsDigit(text_[pos_]))) {
                ++pos_;
            }
            kind_ = TokenKind::Identifier;
        } else if (IsDigit(c)) {
            kind_ = Number(c == '0', false);
        } else if (c == '.' && pos_ < text_.size() && IsDigit(text_[pos_])) {
            ++pos_;
            kind_ = Number(false, true);
        } else if (c == '"' || c == '\'') {
            SkipString(c);
            kind_ = TokenKind::String;
        } else {
            kind_ = TokenKind::Symbol;
            if (c == '{' || c == '<' || c == '[') {
                if (depth_ == kMaxConfigNesting) {
                    tooDeepAt_ = begin_;
                    Stop();
                    return;
                }
                ++depth_;
            } else if ((c == '}' || c == '>' || c == ']') && depth_ > 0) {
                --depth_;
            }
        }
        end_ = pos_;
    }

private:
    // Whitespace, comments and control characters (which the parser reports
    // and passes over).
    void SkipBlanks()
    {
        while (pos_ < text_.size()) {
            const char c = text_[pos_];
            if (c == '\n') {
                ++line_;
                ++pos_;
            } else if (c == '#') {
                while (pos_ < text_.size() && text_[pos_] != '\n') {
                    ++pos_;
                }
            } else if (IsWhitespace(c) || (c >= '\0' && c < ' ')) {
                ++pos_;
            } else {
                return;
            }
        }
    }

    // After the first character (and the digit after a leading '.'): the
    // parser's integer and float forms, a hex or octal integer, a float with
    // an exponent or an 'f'.
    TokenKind Number(bool startedWithZero, bool startedWithDot)
    {
        const auto skip = [this](bool (*accepts)(char)) {
            while (pos_ < text_.size() && accepts(text_[pos_])) {
                ++pos_;
            }
        };
        const auto tryConsume = [this](char a, char b) {
            if (pos_ < text_.size() && (text_[pos_] == a || text_[pos_] == b)) {
                ++pos_;
                return true;
            }
            return false;
        };
        if (startedWithZero && tryConsume('x', 'X')) {
            skip(IsHexDigit);
            return TokenKind::Integer;
        }
        if (startedWithZero && pos_ < text_.size() && IsDigit(text_[pos_])) {
            skip(IsDigit); // octal, or an error the parser reports
            return TokenKind::Integer;
        }
        bool isFloat = startedWithDot;
        skip(IsDigit);
        if (!startedWithDot && tryConsume('.', '.')) {
            isFloat = true;
            skip(IsDigit);
        }
        if (tryConsume('e', 'E')) {
            isFloat = true;
            tryConsume('-', '+');
            skip(IsDigit);
        }
        if (tryConsume('f', 'F')) {
            isFloat = true;
        }
        return isFloat ? TokenKind::Float : TokenKind::Integer;
    }

    // After the opening quote; an escaped character never ends the string,
    // a line break always does (and stays outside it).
    void SkipString(char quote)
    {
        while (pos_ < text_.size()) {
            const char c = text_[pos_];
            if (c == '\n' || c == '\0') {
                return;
            }
            ++pos_;
            if (c == quote) {
                return;
            }
            if (c == '\\' && pos_ < text_.size() && text_[pos_] != '\n' && text_[pos_] != '\0') {
                ++pos_;
            }
        }
    }

    void Stop()
    {
        ended_ = true;
        kind_ = TokenKind::End;
        end_ = begin_;
        pos_ = begin_;
    }

    std::string_view text_;
    size_t pos_ = 0;
    int line_ = 0;
    TokenKind kind_ = TokenKind::End;
    size_t begin_ = 0;
    size_t end_ = 0;
    size_t previousEnd_ = 0;
    int depth_ = 0;
    size_t tooDeepAt_ = std::string::npos;
    bool ended_ = false;
};

// The parser's descent (its ConsumeField and SkipField family), on tokens
// only. Every function returns false where the parser would stop with an
// error, and the walk stops there too.
class Walk final {
public:
    Walk(std::string& text, const ConfigScanSink& sink) : text_(text), tokens_(text), sink_(sink) {}

    ConfigScanOutcome Run(const pb::Descriptor* root)
    {
        Message(root, '\0');
        // The walk may stop early; the nesting bound holds for the whole text.
        while (tokens_.Kind() != TokenKind::End) {
            tokens_.Next();
        }
        ConfigScanOutcome outcome;
        outcome.tooDeepAt = tokens_.TooDeepAt();
        if (outcome.tooDeepAt != std::string::npos) {
            outcome.tooDeepLine = tokens_.Line() + 1;
            size_t lineStart = 0;
            if (outcome.tooDeepAt > 0) {
                const size_t lineBreak = text_.rfind('\n', outcome.tooDeepAt - 1);
                lineStart = lineBreak == std::string::npos ? 0 : lineBreak + 1;
            }
            int column = 0;
            for (size_t i = lineStart; i < outcome.tooDeepAt; ++i) {
                column = text_[i] == '\t' ? (column / 8 + 1) * 8 : column + 1;
            }
            outcome.tooDeepColumn = column + 1;
        }
        return outcome;
    }

private:
    // What the parser holds of a message block being read: the blocks each
    // repeated message field has had, and the singular fields and oneofs
    // set (given again, the parser rejects them).
    struct Block {
        std::vector<std::pair<const pb::FieldDescriptor*, int>> counts;
        std::vector<const void*> set;
    };

    bool TryConsume(char symbol)
    {
        if (!tokens_.Is(symbol)) {
            return false;
        }
        tokens_.Next();
        return true;
    }

    bool IsName() const
    {
        return tokens_.Kind() == TokenKind::Identifier || tokens_.Kind() == TokenKind::Integer;
    }

    void TrySeparator()
    {
        if (!TryConsume(';')) {
            TryConsume(',');
        }
    }

    // The fields up to the closing delimiter, or to the text's end at the top.
    bool Message(const pb::Descriptor* type, char closer)
    {
        Block block;
        while (closer == '\0' ? tokens_.Kind() != TokenKind::End : !tokens_.Is('}') && !tokens_.Is('>')) {
            if (!Field(type, block)) {
                return false;
            }
        }
        return closer == '\0' || TryConsume(closer);
    }

    // "[a.b]": `name` is "a.b". A type URL's '/' is taken only where the
    // parser skips.
    bool BracketedName(bool slashes, std::string& name)
    {
        tokens_.Next();
        while (true) {
            if (!IsName()) {
                return false;
            }
            name += tokens_.Text();
            tokens_.Next();
            if (tokens_.Is('.') || (slashes && tokens_.Is('/'))) {
                name += tokens_.Text();
                tokens_.Next();
            } else {
                break;
            }
        }
        return TryConsume(']');
    }

    // The parser's lookup: by name, and a group also by its type's name.
    static const pb::FieldDescriptor* FindField(const pb::Descriptor* type, const std::string& name)
    {
        const pb::FieldDescriptor* field = type->FindFieldByName(name);
        if (field == nullptr) {
            std::string lower = name;
            for (char& c : lower) {
                c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
            }
            field = type->FindFieldByName(lower);
            if (field != nullptr && field->type() != pb::FieldDescriptor::TYPE_GROUP) {
                field = nullptr;
            }
        }
        if (field != nullptr && field->type() == pb::FieldDescriptor::TYPE_GROUP &&
            field->message_type()->name() != name) {
            field = nullptr;
        }
        return field;
    }

    bool Field(const pb::Descriptor* type, Block& block)
    {
        const size_t nameBegin = tokens_.Begin();
        const int nameLine = tokens_.Line();
        std::string name;
        const pb::FieldDescriptor* field = nullptr;
        if (tokens_.Is('[')) {
            if (!BracketedName(false, name)) {
                return false;
            }
            field = type->file()->pool()->FindExtensionByPrintableName(type, name);
            name = "[" + name + "]";
        } else if (IsName()) {
            name = tokens_.Text();
            tokens_.Next();
            field = FindField(type, name);
        } else {
            return false;
        }

        if (field == nullptr) {
            Report(nameBegin, nameLine, std::move(name), std::string());
            return SkipAfterName();
        }
        const void* const presence = field->containing_oneof() != nullptr
                                         ? static_cast<const void*>(field->containing_oneof())
                                         : field;
        if (!field->is_repeated() &&
            std::find(block.set.begin(), block.set.end(), presence) != block.set.end()) {
            return false;
        }
        if (field->cpp_type() == pb::FieldDescriptor::CPPTYPE_MESSAGE) {
            TryConsume(':');
        } else if (!TryConsume(':')) {
            return false;
        }
        if (field->is_repeated() && TryConsume('[')) {
            if (!TryConsume(']')) {
                while (true) {
                    if (!(field->cpp_type() == pb::FieldDescriptor::CPPTYPE_MESSAGE
                              ? FieldMessage(field, block)
                              : ListValue(field))) {
                        return false;
                    }
                    if (TryConsume(']')) {
                        break;
                    }
                    if (!TryConsume(',')) {
                        return false;
                    }
                }
            }
        } else if (field->cpp_type() == pb::FieldDescriptor::CPPTYPE_MESSAGE) {
            if (!FieldMessage(field, block)) {
                return false;
            }
        } else {
            std::string unknownValue;
            if (!Value(field, unknownValue)) {
                return false;
            }
            if (!unknownValue.empty()) {
                const size_t valueEnd = tokens_.PreviousEnd();
                TrySeparator();
                if (!Blankable(nameBegin, valueEnd, tokens_.PreviousEnd(), !IsLetter(unknownValue[0]))) {
                    return false;
                }
                Blank(nameBegin, tokens_.PreviousEnd());
                Report(nameBegin, nameLine, std::move(name), std::move(unknownValue));
                return true;
            }
        }
        if (!field->is_repeated()) {
            block.set.push_back(presence);
        }
        TrySeparator();
        return true;
    }

    bool FieldMessage(const pb::FieldDescriptor* field, Block& block)
    {
        char closer = '>';
        if (!TryConsume('<')) {
            if (!TryConsume('{')) {
                return false;
            }
            closer = '}';
        }
        int index = 0;
        auto it = block.counts.begin();
        while (it != block.counts.end() && it->first != field) {
            ++it;
        }
        if (it == block.counts.end()) {
            block.counts.emplace_back(field, 1);
        } else {
            index = it->second++;
        }
        path_.push_back({field, index});
        const bool read = Message(field->message_type(), closer);
        path_.pop_back();
        return read;
    }

    // A scalar's value; an enum value the enum does not know goes to
    // `unknownValue`, named as the parser names it.
    bool Value(const pb::FieldDescriptor* field, std::string& unknownValue)
    {
        if (field->cpp_type() == pb::FieldDescriptor::CPPTYPE_BOOL) {
            // The parser reports a bad word at the token after it, which a
            // blank there would move: the walk stops at it.
            const std::string_view word = tokens_.Text();
            uint64_t number = 0;
            if (tokens_.Kind() == TokenKind::Integer
                    ? !pb::io::Tokenizer::ParseInteger(std::string(word), 1, &number)
                    : word != "true" && word != "True" && word != "t" && word != "false" && word != "False" &&
                          word != "f") {
                return false;
            }
            tokens_.Next();
            return true;
        }
        if (field->cpp_type() != pb::FieldDescriptor::CPPTYPE_ENUM) {
            return Scalar();
        }
        const pb::EnumDescriptor* type = field->enum_type();
        if (tokens_.Kind() == TokenKind::Identifier) {
            std::string value(tokens_.Text());
            tokens_.Next();
            if (type->FindValueByName(value) == nullptr) {
                unknownValue = std::move(value);
            }
            return true;
        }
        const bool negative = TryConsume('-');
        uint64_t magnitude = 0;
        const uint64_t limit =
            static_cast<uint64_t>(std::numeric_limits<int32_t>::max()) + (negative ? 1 : 0);
        // "0x" alone reads as 0 but is an error of the tokenizer.
        if (tokens_.Kind() != TokenKind::Integer || tokens_.Text() == "0x" || tokens_.Text() == "0X" ||
            !pb::io::Tokenizer::ParseInteger(std::string(tokens_.Text()), limit, &magnitude)) {
            return false;
        }
        tokens_.Next();
        const int64_t number = negative ? -static_cast<int64_t>(magnitude) : static_cast<int64_t>(magnitude);
        // The schema's enums are closed: the parser takes no number they lack.
        if (type->FindValueByNumber(static_cast<int>(number)) == nullptr) {
            unknownValue = std::to_string(number);
        }
        return true;
    }

    // One element of a repeated scalar's "[a, b]". An unknown enum value in
    // such a list cannot be blanked alone; the parser is left to reject it.
    bool ListValue(const pb::FieldDescriptor* field)
    {
        std::string unknownValue;
        return Value(field, unknownValue) && unknownValue.empty();
    }

    // Strings run together, or a number or word with an optional '-'.
    bool Scalar()
    {
        if (tokens_.Kind() == TokenKind::String) {
            while (tokens_.Kind() == TokenKind::String) {
                tokens_.Next();
            }
            return true;
        }
        TryConsume('-');
        if (tokens_.Kind() != TokenKind::Identifier && tokens_.Kind() != TokenKind::Integer &&
            tokens_.Kind() != TokenKind::Float) {
            return false;
        }
        tokens_.Next();
        return true;
    }

    // An unknown field's value after its name: with ':' a scalar or a list
    // unless a block follows, without ':' a block.
    bool SkipAfterName()
    {
        bool skipped = false;
        if (TryConsume(':') && !tokens_.Is('{') && !tokens_.Is('<')) {
            skipped = SkipValue();
        } else {
            skipped = SkipMessage();
        }
        if (skipped) {
            TrySeparator();
        }
        return skipped;
    }

    bool SkipField()
    {
        if (tokens_.Is('[')) {
            std::string name;
            if (!BracketedName(true, name)) {
                return false;
            }
        } else if (IsName()) {
            tokens_.Next();
        } else {
            return false;
        }
        return SkipAfterName();
    }

    bool SkipMessage()
    {
        char closer = '>';
        if (!TryConsume('<')) {
            if (!TryConsume('{')) {
                return false;
            }
            closer = '}';
        }
        while (!tokens_.Is('}') && !tokens_.Is('>')) {
            if (!SkipField()) {
                return false;
            }
        }
        return TryConsume(closer);
    }

    bool SkipValue()
    {
        if (!TryConsume('[')) {
            return Scalar();
        }
        // Some parser versions refuse "[]" here; the walk takes it so as not
        // to stop where a parser reads on.
        if (TryConsume(']')) {
            return true;
        }
        while (true) {
            if (!(tokens_.Is('{') || tokens_.Is('<') ? SkipMessage() : SkipValue())) {
                return false;
            }
            if (TryConsume(']')) {
                return true;
            }
            if (!TryConsume(',')) {
                return false;
            }
        }
    }

    // Whether blanking [begin, end) hides nothing the parser's tokenizer
    // reports: a control character, a number running into a word ("5type",
    // "7abc") or a word into a fraction ("ALARM.5").
    bool Blankable(size_t begin, size_t valueEnd, size_t end, bool numeric) const
    {
        const auto at = [this](size_t i) { return i < text_.size() ? text_[i] : ' '; };
        const char before = begin > 0 ? text_[begin - 1] : ' ';
        const char after = at(valueEnd);
        if (IsLetter(before) || IsDigit(before) || before == '.' || IsLetter(after) || IsDigit(after) ||
            (after == '.' && (numeric || IsDigit(at(valueEnd + 1))))) {
            return false;
        }
        bool comment = false;
        for (size_t i = begin; i < end; ++i) {
            const char c = text_[i];
            if (c == '\n') {
                comment = false;
            } else if (c == '#') {
                comment = true;
            } else if (!comment && c >= '\0' && c < ' ' && !IsWhitespace(c)) {
                return false;
            }
        }
        return true;
    }

    void Blank(size_t begin, size_t end)
    {
        for (size_t i = begin; i < end; ++i) {
            if (!IsWhitespace(text_[i])) {
                text_[i] = ' ';
            }
        }
    }

    void Report(size_t offset, int line, std::string field, std::string value)
    {
        ConfigScanFinding finding;
        finding.offset = offset;
        finding.line = line + 1;
        finding.field = std::move(field);
        finding.value = std::move(value);
        sink_(finding, path_);
    }

    std::string& text_;
    Tokenizer tokens_;
    const ConfigScanSink& sink_;
    std::vector<ConfigScanFrame> path_;
};

} // namespace

ConfigScanOutcome ScanConfigText(std::string& text, const pb::Descriptor* root, const ConfigScanSink& sink)
{
    return Walk(text, sink).Run(root);
}
