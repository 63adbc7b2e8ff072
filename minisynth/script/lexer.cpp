#include "script/lexer.h"

#include <cctype>
#include <climits>
#include <cstdint>

#include "core.h"

namespace ms::script {

std::string SyntaxErrorText(const std::string& fileName, int line, int column) {
    return "Script error: syntax error\n(" + fileName + ", line " + std::to_string(line) +
           ", column " + std::to_string(column) + ")";
}

namespace {

bool IsIdentStart(char c) {
    return std::isalpha(static_cast<unsigned char>(c)) || c == '_';
}
bool IsIdentChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
}
bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}
bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}

class Lexer {
  public:
    Lexer(const std::string& text, const std::string& fileName) : s_(text), file_(fileName) {
        if (s_.compare(0, 3, "\xEF\xBB\xBF") == 0) pos_ = lineStart_ = 3;  // UTF-8 mark
    }

    std::vector<Token> Run() {
        while (pos_ < s_.size()) {
            char c = s_[pos_];
            if (IsBlank(c)) {
                ++pos_;
            } else if (c == '#') {
                SkipToLineEnd();
            } else if (c == '/' && Peek(1) == '*') {
                BlockComment();
            } else if (c == '\\') {
                TrailingBackslash();
            } else if (c == '\n') {
                NewLine();
            } else if (IsDigit(c) || (c == '.' && IsDigit(Peek(1))) || c == '$') {
                Number();
            } else if (c == '"') {
                String();
            } else if (IsIdentStart(c)) {
                size_t start = pos_;
                while (pos_ < s_.size() && IsIdentChar(s_[pos_]))
                    ++pos_;
                Add(Token::Kind::Ident, start).text = s_.substr(start, pos_ - start);
            } else {
                Operator();
            }
        }
        Add(Token::Kind::End, pos_);
        return std::move(tokens_);
    }

  private:
    char Peek(size_t ahead) const { return pos_ + ahead < s_.size() ? s_[pos_ + ahead] : '\0'; }
    int Column(size_t at) const { return static_cast<int>(at - lineStart_); }

    [[noreturn]] void Fail(int line, int column) const {
        throw Error(SyntaxErrorText(file_, line, column));
    }
    [[noreturn]] void FailAt(size_t at) const { Fail(line_, Column(at)); }

    Token& Add(Token::Kind kind, size_t start) {
        Token t;
        t.kind = kind;
        t.line = line_;
        t.column = Column(start);
        tokens_.push_back(t);
        return tokens_.back();
    }

    void SkipToLineEnd() {
        while (pos_ < s_.size() && s_[pos_] != '\n')
            ++pos_;
    }

    void StartLine() {
        ++pos_;  // the '\n'
        ++line_;
        lineStart_ = pos_;
    }

    void BlockComment() {
        int line = line_;
        int column = Column(pos_);
        pos_ += 2;
        for (;;) {
            if (pos_ >= s_.size()) Fail(line, column);
            if (s_[pos_] == '*' && Peek(1) == '/') break;
            if (s_[pos_] == '\n') {
                StartLine();
            } else {
                ++pos_;
            }
        }
        pos_ += 2;
    }

    // A backslash is allowed only as the last thing on a line: the line goes on below.
    void TrailingBackslash() {
        size_t at = pos_++;
        while (pos_ < s_.size() && IsBlank(s_[pos_]))
            ++pos_;
        if (pos_ < s_.size() && s_[pos_] != '\n') FailAt(at);
        if (pos_ < s_.size()) StartLine();
    }

    // A line whose first non-blank character is a backslash continues this one.
    void NewLine() {
        int line = line_;
        int column = Column(pos_);
        StartLine();
        size_t p = pos_;
        while (p < s_.size() && IsBlank(s_[p]))
            ++p;
        if (p < s_.size() && s_[p] == '\\') {
            pos_ = p + 1;
            return;
        }
        if (tokens_.empty() || tokens_.back().kind == Token::Kind::Newline) return;
        Token t;
        t.kind = Token::Kind::Newline;
        t.line = line;
        t.column = column;
        tokens_.push_back(t);
    }

    void Number() {
        size_t start = pos_;
        if (s_[pos_] == '$') {  // hexadecimal, as in colour values: $FF8000
            ++pos_;
            uint64_t v = 0;
            size_t digits = 0;
            while (pos_ < s_.size() && std::isxdigit(static_cast<unsigned char>(s_[pos_]))) {
                char h = static_cast<char>(std::tolower(static_cast<unsigned char>(s_[pos_])));
                v = v * 16 + static_cast<uint64_t>(IsDigit(h) ? h - '0' : h - 'a' + 10);
                ++pos_;
                ++digits;
            }
            if (digits == 0 || digits > 8) FailAt(start);
            Add(Token::Kind::Int, start).intValue =
                static_cast<int>(static_cast<uint32_t>(v));  // $FFFFFFFF is -1
            return;
        }
        while (pos_ < s_.size() && IsDigit(s_[pos_]))
            ++pos_;
        bool isFloat = false;
        if (pos_ < s_.size() && s_[pos_] == '.' && IsDigit(Peek(1))) {
            isFloat = true;
            ++pos_;
            while (pos_ < s_.size() && IsDigit(s_[pos_]))
                ++pos_;
        }
        if (pos_ < s_.size() && IsIdentChar(s_[pos_])) FailAt(start);  // 12abc
        std::string text = s_.substr(start, pos_ - start);
        if (isFloat) {
            Add(Token::Kind::Float, start).floatValue = std::stod(text);
            return;
        }
        if (text.size() > 10 || std::stoll(text) > INT_MAX) FailAt(start);
        Add(Token::Kind::Int, start).intValue = std::stoi(text);
    }

    void String() {
        size_t start = pos_;
        int line = line_;
        int column = Column(start);
        if (s_.compare(pos_, 3, "\"\"\"") == 0) {  // """...""" may span lines
            pos_ += 3;
            size_t end = s_.find("\"\"\"", pos_);
            if (end == std::string::npos) Fail(line, column);
            std::string value = s_.substr(pos_, end - pos_);
            while (pos_ < end) {
                if (s_[pos_] == '\n') {
                    StartLine();
                } else {
                    ++pos_;
                }
            }
            pos_ = end + 3;
            Token t;
            t.kind = Token::Kind::String;
            t.text = std::move(value);
            t.line = line;
            t.column = column;
            tokens_.push_back(std::move(t));
            return;
        }
        size_t end = s_.find_first_of("\"\n", pos_ + 1);
        if (end == std::string::npos || s_[end] != '"') Fail(line, column);
        Add(Token::Kind::String, start).text = s_.substr(pos_ + 1, end - pos_ - 1);
        pos_ = end + 1;
    }

    void Operator() {
        static const char* const kTwo[] = {"==", "!=", "<>", "<=", ">=", "&&", "||"};
        for (const char* op : kTwo) {
            if (s_.compare(pos_, 2, op) == 0) {
                Add(Token::Kind::Op, pos_).text = op;
                pos_ += 2;
                return;
            }
        }
        static const std::string kOne = "+-*/%<>!=(),.?:";
        if (kOne.find(s_[pos_]) == std::string::npos) FailAt(pos_);
        Add(Token::Kind::Op, pos_).text = std::string(1, s_[pos_]);
        ++pos_;
    }

    const std::string& s_;
    const std::string& file_;
    size_t pos_ = 0;
    size_t lineStart_ = 0;
    int line_ = 1;
    std::vector<Token> tokens_;
};

}  // namespace

std::vector<Token> Tokenize(const std::string& text, const std::string& fileName) {
    return Lexer(text, fileName).Run();
}

}  // namespace ms::script
