// Tokens of the script language, with their place in the file for error messages.
#pragma once

#include <string>
#include <vector>

namespace ms::script {

struct Token {
    enum class Kind { Int, Float, String, Ident, Op, Newline, End };
    Kind kind = Kind::End;
    std::string text;  // identifier, operator, or the string's contents
    int intValue = 0;
    double floatValue = 0.0;
    int line = 1;    // 1-based
    int column = 0;  // 0-based, in bytes
};

// "Script error: syntax error" with the location, as AviSynth words it.
std::string SyntaxErrorText(const std::string& fileName, int line, int column);

// Splits script text into tokens ending with an End token. Line continuations (a line
// ending in a backslash, or one starting with a backslash) produce no Newline.
// Throws ms::Error with SyntaxErrorText for a character or literal it cannot read.
std::vector<Token> Tokenize(const std::string& text, const std::string& fileName);

}  // namespace ms::script
