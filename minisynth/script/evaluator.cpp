#include "script/evaluator.h"

#include <cmath>
#include <cstdint>

#include "env.h"

namespace ms::script {

namespace {

// Integer arithmetic wraps around like the 32-bit machine arithmetic AviSynth uses.
int Wrap(int64_t v) {
    return static_cast<int>(static_cast<uint32_t>(static_cast<uint64_t>(v)));
}

int CompareNoCase(const std::string& a, const std::string& b) {
    std::string la = ToLower(a);
    std::string lb = ToLower(b);
    return la < lb ? -1 : (la == lb ? 0 : 1);
}

std::string Quoted(const std::string& op) {
    return "\"" + op + "\"";
}

Value Compare(const std::string& op, const Value& a, const Value& b) {
    int c = 0;
    bool ordered = true;
    if (a.IsInt() && b.IsInt()) {
        c = a.AsInt() < b.AsInt() ? -1 : (a.AsInt() == b.AsInt() ? 0 : 1);
    } else if (a.IsFloat() && b.IsFloat()) {
        double x = a.AsFloat();
        double y = b.AsFloat();
        c = x < y ? -1 : (x == y ? 0 : 1);
    } else if (a.IsString() && b.IsString()) {
        c = CompareNoCase(a.AsString(), b.AsString());  // AviSynth compares without case
    } else if (a.IsBool() && b.IsBool()) {
        c = a.AsBool() == b.AsBool() ? 0 : 1;
        ordered = false;
    } else {
        throw Error("Evaluate: operands of " + Quoted(op) + " cannot be compared");
    }
    if (op == "==") return Value::Bool(c == 0);
    if (op == "!=") return Value::Bool(c != 0);
    if (!ordered) throw Error("Evaluate: operands of " + Quoted(op) + " cannot be compared");
    if (op == "<") return Value::Bool(c < 0);
    if (op == ">") return Value::Bool(c > 0);
    if (op == "<=") return Value::Bool(c <= 0);
    return Value::Bool(c >= 0);
}

class Evaluator {
  public:
    Evaluator(const Program& program, Env& env) : program_(program), env_(env) {}

    Value Run() {
        Value result;
        bool endsWithAssignment = false;
        for (const Statement& st : program_.statements) {
            switch (st.kind) {
                case Statement::Kind::Return:
                    return Eval(*st.expr);
                case Statement::Kind::Assignment:
                    env_.SetVar(st.variable, Eval(*st.expr));
                    endsWithAssignment = true;
                    break;
                case Statement::Kind::Expression:
                    result = Eval(*st.expr);
                    if (result.IsClip()) env_.SetVar("last", result);
                    endsWithAssignment = false;
                    break;
            }
        }
        if (endsWithAssignment) {
            Value last;
            env_.GetVar("last", last);
            return last;
        }
        return result;
    }

  private:
    // Runs one node's own operation; its errors get this script's location. Children are
    // evaluated outside, so that an error is located once, where it happened.
    template <class Op>
    Value Located(const Node& n, Op op) {
        try {
            return op();
        } catch (const Error& e) {
            throw Error(std::string(e.what()) + "\n(" + program_.fileName + ", line " +
                        std::to_string(n.line) + ")");
        }
    }

    Value Eval(const Node& n) {
        switch (n.kind) {
            case Node::Kind::Literal:
                return n.literal;
            case Node::Kind::Name: {
                Value v;
                if (env_.GetVar(n.name, v)) return v;
                return Located(n, [&] {
                    if (!env_.FunctionExists(n.name))
                        throw Error("Script error: I don't know what '" + n.name + "' means.");
                    return Call(n.name, {}, {}, false);
                });
            }
            case Node::Kind::Call: {
                std::vector<Value> args;
                args.reserve(n.children.size());
                for (const auto& child : n.children)
                    args.push_back(Eval(*child));
                return Located(n, [&] { return Call(n.name, args, n.argNames, n.method); });
            }
            case Node::Kind::Unary: {
                Value v = Eval(*n.children[0]);
                return Located(n, [&] { return ApplyUnary(n.name, v); });
            }
            case Node::Kind::Binary: {
                Value a = Eval(*n.children[0]);
                if (n.name == "&&" || n.name == "||") {
                    Located(n, [&] { return RequireBool(n.name, a); });
                    if (a.AsBool() == (n.name == "||")) return a;  // short circuit
                    Value b = Eval(*n.children[1]);
                    return Located(n, [&] { return RequireBool(n.name, b); });
                }
                Value b = Eval(*n.children[1]);
                return Located(n, [&] { return ApplyBinary(n.name, a, b); });
            }
            case Node::Kind::Ternary: {
                Value c = Eval(*n.children[0]);
                Located(n, [&] { return RequireBool("?:", c); });
                return Eval(*n.children[c.AsBool() ? 1 : 2]);
            }
        }
        return Value();
    }

    static Value RequireBool(const std::string& op, const Value& v) {
        if (!v.IsBool()) throw Error("Evaluate: operands of " + Quoted(op) + " must be boolean");
        return v;
    }

    // A call that does not fit its arguments is tried again with "last" in front: AviSynth's
    // implicit last. Not for the method form, whose clip is already in front.
    Value Call(const std::string& name, const std::vector<Value>& args,
               const std::vector<std::string>& names, bool method) {
        if (!env_.FunctionExists(name))
            throw Error("Script error: There is no function named \"" + name + "\".");
        Value result;
        if (env_.TryInvoke(name, args, names, result)) return result;
        Value last;
        if (!method && env_.GetVar("last", last) && last.IsClip()) {
            std::vector<Value> withLast{last};
            withLast.insert(withLast.end(), args.begin(), args.end());
            std::vector<std::string> withLastNames{""};
            withLastNames.insert(withLastNames.end(), names.begin(), names.end());
            if (env_.TryInvoke(name, withLast, withLastNames, result)) return result;
        }
        throw Error("Script error: Invalid arguments to function \"" + name + "\"");
    }

    const Program& program_;
    Env& env_;
};

}  // namespace

Value ApplyUnary(const std::string& op, const Value& v) {
    if (op == "!") {
        if (!v.IsBool()) throw Error("Evaluate: operand of \"!\" must be boolean");
        return Value::Bool(!v.AsBool());
    }
    if (!v.IsFloat()) throw Error("Evaluate: operand of " + Quoted(op) + " must be a number");
    if (op == "+") return v;
    if (v.IsInt()) return Value::Int(Wrap(-static_cast<int64_t>(v.AsInt())));
    return Value::Float(-v.AsFloat());
}

Value ApplyBinary(const std::string& op, const Value& a, const Value& b) {
    if (op == "==" || op == "!=" || op == "<" || op == ">" || op == "<=" || op == ">=")
        return Compare(op, a, b);
    if (op == "+" && a.IsString() && b.IsString())
        return Value::String(a.AsString() + b.AsString());
    if (!a.IsFloat() || !b.IsFloat()) {
        if (op == "+") throw Error("Evaluate: operands of \"+\" must both be numbers or strings");
        throw Error("Evaluate: operands of " + Quoted(op) + " must be numbers");
    }
    if (a.IsInt() && b.IsInt()) {
        int64_t x = a.AsInt();
        int64_t y = b.AsInt();
        if ((op == "/" || op == "%") && y == 0) throw Error("Evaluate: division by zero");
        if (op == "+") return Value::Int(Wrap(x + y));
        if (op == "-") return Value::Int(Wrap(x - y));
        if (op == "*") return Value::Int(Wrap(x * y));
        if (op == "/") return Value::Int(Wrap(x / y));
        return Value::Int(Wrap(x % y));
    }
    double x = a.AsFloat();
    double y = b.AsFloat();
    if (op == "+") return Value::Float(x + y);
    if (op == "-") return Value::Float(x - y);
    if (op == "*") return Value::Float(x * y);
    if (op == "/") return Value::Float(x / y);
    return Value::Float(std::fmod(x, y));
}

Value Run(const Program& program, Env& env) {
    return Evaluator(program, env).Run();
}

}  // namespace ms::script
