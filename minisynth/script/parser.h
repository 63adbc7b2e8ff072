// The script's syntax tree and the parser that builds it. A script is parsed whole before
// any of it runs, so a syntax error anywhere means nothing is evaluated.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "core.h"

namespace ms::script {

struct Node {
    enum class Kind {
        Literal,  // literal
        Name,     // a bare identifier: a variable, or a call without parentheses
        Call,     // name(args) or target.name(args)
        Unary,    // op operand
        Binary,   // left op right
        Ternary,  // cond ? a : b
    };
    Kind kind = Kind::Literal;
    int line = 1;
    Value literal;
    std::string name;                             // identifier, function or operator
    std::vector<std::unique_ptr<Node>> children;  // operands; for a call its arguments
    std::vector<std::string> argNames;            // per call argument, empty when positional
    bool method = false;                          // Call: children[0] is the clip before '.'
    int depth = 1;
};

struct Statement {
    enum class Kind { Expression, Assignment, Return };
    Kind kind = Kind::Expression;
    std::string variable;  // Assignment
    std::unique_ptr<Node> expr;
};

struct Program {
    std::string fileName;
    std::vector<Statement> statements;
};

// Throws ms::Error with SyntaxErrorText on the first token that does not fit.
Program Parse(const std::string& text, const std::string& fileName);

}  // namespace ms::script
