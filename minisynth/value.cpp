#include "core.h"

namespace ms {

Value Value::Bool(bool b) {
    Value v;
    v.type_ = Type::Bool;
    v.b_ = b;
    return v;
}

Value Value::Int(int i) {
    Value v;
    v.type_ = Type::Int;
    v.i_ = i;
    return v;
}

Value Value::Float(double f) {
    Value v;
    v.type_ = Type::Float;
    v.f_ = f;
    return v;
}

Value Value::String(std::string s) {
    Value v;
    v.type_ = Type::String;
    v.s_ = std::move(s);
    return v;
}

Value Value::FromClip(PClip c) {
    Value v;
    v.type_ = Type::Clip;
    v.clip_ = std::move(c);
    return v;
}

Value Value::Array(std::vector<Value> items) {
    Value v;
    v.type_ = Type::Array;
    v.items_ = std::move(items);
    return v;
}

}  // namespace ms
