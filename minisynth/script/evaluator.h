// Runs a parsed script against an environment.
#pragma once

#include "core.h"
#include "script/parser.h"

namespace ms::script {

// The script's value: that of a return statement; otherwise "last" when the final
// statement is an assignment, else the final expression's value; Void for an empty script.
// An expression statement that yields a clip sets "last". Errors carry the script's name and
// line: "\n(file, line N)" is appended once per script level.
Value Run(const Program& program, Env& env);

// Operators on values, as the evaluator applies them. Throw ms::Error for operands they do
// not take.
Value ApplyUnary(const std::string& op, const Value& v);
Value ApplyBinary(const std::string& op, const Value& a, const Value& b);

}  // namespace ms::script
