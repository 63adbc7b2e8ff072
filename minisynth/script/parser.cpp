#include "script/parser.h"

#include <algorithm>

#include "env.h"
#include "script/lexer.h"

namespace ms::script {

namespace {

// Bounds on nesting keep a hostile script from exhausting the stack while it is parsed,
// evaluated or destroyed.
constexpr int kMaxNesting = 200;
constexpr int kMaxDepth = 1000;

using PNode = std::unique_ptr<Node>;

class Parser {
  public:
    Parser(std::vector<Token> tokens, const std::string& fileName)
        : tokens_(std::move(tokens)), file_(fileName) {}

    Program Run() {
        Program program;
        program.fileName = file_;
        while (!At(Token::Kind::End)) {
            if (At(Token::Kind::Newline)) {
                ++pos_;
                continue;
            }
            program.statements.push_back(ParseStatement());
            if (!At(Token::Kind::End) && !At(Token::Kind::Newline)) Fail();
        }
        return program;
    }

  private:
    const Token& Cur() const { return tokens_[pos_]; }
    const Token& Next() const { return tokens_[std::min(pos_ + 1, tokens_.size() - 1)]; }
    bool At(Token::Kind kind) const { return Cur().kind == kind; }
    bool AtOp(const char* op) const { return At(Token::Kind::Op) && Cur().text == op; }
    bool AtKeyword(const char* word) const {
        return At(Token::Kind::Ident) && ToLower(Cur().text) == word;
    }
    [[noreturn]] void Fail() const {
        throw Error(SyntaxErrorText(file_, Cur().line, Cur().column));
    }
    void Expect(const char* op) {
        if (!AtOp(op)) Fail();
        ++pos_;
    }

    PNode Make(Node::Kind kind) {
        auto n = std::make_unique<Node>();
        n->kind = kind;
        n->line = Cur().line;
        return n;
    }
    PNode& Adopt(PNode& parent, PNode child) {
        parent->depth = std::max(parent->depth, child->depth + 1);
        if (parent->depth > kMaxDepth) Fail();
        parent->children.push_back(std::move(child));
        return parent->children.back();
    }

    Statement ParseStatement() {
        Statement st;
        if (AtKeyword("return")) {
            ++pos_;
            st.kind = Statement::Kind::Return;
            st.expr = ParseExpr();
            return st;
        }
        if (AtKeyword("global") && Next().kind == Token::Kind::Ident) ++pos_;  // one scope
        if (At(Token::Kind::Ident) && Next().kind == Token::Kind::Op && Next().text == "=") {
            st.kind = Statement::Kind::Assignment;
            st.variable = Cur().text;
            pos_ += 2;
        }
        st.expr = ParseExpr();
        return st;
    }

    PNode ParseExpr() {
        if (++nesting_ > kMaxNesting) Fail();
        PNode cond = ParseBinary(0);
        if (AtOp("?")) {
            PNode n = Make(Node::Kind::Ternary);
            ++pos_;
            Adopt(n, std::move(cond));
            Adopt(n, ParseExpr());
            Expect(":");
            Adopt(n, ParseExpr());
            cond = std::move(n);
        }
        --nesting_;
        return cond;
    }

    // Binary operators by rising precedence; all associate to the left.
    static int Precedence(const Token& t) {
        if (t.kind != Token::Kind::Op) return -1;
        static const std::vector<std::vector<std::string>> kLevels = {
            {"||"}, {"&&"}, {"==", "!=", "<>", "<", ">", "<=", ">="}, {"+", "-"}, {"*", "/", "%"}};
        for (size_t i = 0; i < kLevels.size(); ++i) {
            const auto& ops = kLevels[i];
            if (std::find(ops.begin(), ops.end(), t.text) != ops.end()) return static_cast<int>(i);
        }
        return -1;
    }

    PNode ParseBinary(int level) {
        if (level > 4) return ParseUnary();
        PNode left = ParseBinary(level + 1);
        while (Precedence(Cur()) == level) {
            PNode n = Make(Node::Kind::Binary);
            n->name = Cur().text == "<>" ? "!=" : Cur().text;
            ++pos_;
            Adopt(n, std::move(left));
            Adopt(n, ParseBinary(level + 1));
            left = std::move(n);
        }
        return left;
    }

    PNode ParseUnary() {
        if (AtOp("-") || AtOp("+") || AtOp("!")) {
            if (++nesting_ > kMaxNesting) Fail();
            PNode n = Make(Node::Kind::Unary);
            n->name = Cur().text;
            ++pos_;
            Adopt(n, ParseUnary());
            --nesting_;
            return n;
        }
        return ParsePostfix();
    }

    PNode ParsePostfix() {
        PNode target = ParsePrimary();
        while (AtOp(".")) {
            ++pos_;
            if (!At(Token::Kind::Ident)) Fail();
            PNode call = Make(Node::Kind::Call);
            call->name = Cur().text;
            call->method = true;
            ++pos_;
            call->argNames.emplace_back();
            Adopt(call, std::move(target));
            if (AtOp("(")) ParseArguments(call);
            target = std::move(call);
        }
        return target;
    }

    void ParseArguments(PNode& call) {
        Expect("(");
        if (AtOp(")")) {
            ++pos_;
            return;
        }
        for (;;) {
            std::string name;
            if (At(Token::Kind::Ident) && Next().kind == Token::Kind::Op && Next().text == "=") {
                name = Cur().text;
                pos_ += 2;
            }
            call->argNames.push_back(name);
            Adopt(call, ParseExpr());
            if (AtOp(")")) break;
            Expect(",");
        }
        ++pos_;
    }

    PNode ParsePrimary() {
        const Token& t = Cur();
        switch (t.kind) {
            case Token::Kind::Int:
            case Token::Kind::Float:
            case Token::Kind::String: {
                PNode n = Make(Node::Kind::Literal);
                n->literal = t.kind == Token::Kind::Int     ? Value::Int(t.intValue)
                             : t.kind == Token::Kind::Float ? Value::Float(t.floatValue)
                                                            : Value::String(t.text);
                ++pos_;
                return n;
            }
            case Token::Kind::Ident: {
                std::string lower = ToLower(t.text);
                if (lower == "true" || lower == "false") {
                    PNode n = Make(Node::Kind::Literal);
                    n->literal = Value::Bool(lower == "true");
                    ++pos_;
                    return n;
                }
                if (lower == "return" || lower == "global") Fail();
                PNode n = Make(Node::Kind::Name);
                n->name = t.text;
                ++pos_;
                if (AtOp("(")) {
                    n->kind = Node::Kind::Call;
                    ParseArguments(n);
                }
                return n;
            }
            case Token::Kind::Op:
                if (t.text == "(") {
                    ++pos_;
                    PNode inner = ParseExpr();
                    Expect(")");
                    return inner;
                }
                break;
            default:
                break;
        }
        Fail();
    }

    std::vector<Token> tokens_;
    const std::string& file_;
    size_t pos_ = 0;
    int nesting_ = 0;
};

}  // namespace

Program Parse(const std::string& text, const std::string& fileName) {
    return Parser(Tokenize(text, fileName), fileName).Run();
}

}  // namespace ms::script
