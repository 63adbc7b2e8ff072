// The script language and the environment, driven directly through ms::Env.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "env.h"
#include "script/evaluator.h"
#include "script/lexer.h"
#include "script/parser.h"

namespace {

using ms::Env;
using ms::Value;
namespace fs = std::filesystem;

// A clip whose only feature is its length, so that tests can tell clips apart.
class LengthClip : public ms::Clip {
  public:
    explicit LengthClip(int frames) : ms::Clip(Info(frames)) {}
    ms::PFrame GetFrame(int) override { return nullptr; }

  private:
    static ms::VideoInfo Info(int frames) {
        ms::VideoInfo vi{};
        vi.width = 16;
        vi.height = 16;
        vi.fps_numerator = 25;
        vi.fps_denominator = 1;
        vi.num_frames = frames;
        vi.pixel_type = static_cast<int>(avs::kCsY8);
        return vi;
    }
};

int Length(const Value& v) {
    return v.IsClip() ? v.AsClip()->GetVideoInfo().num_frames : -1;
}

// An environment with two test functions: Clip(n) makes a clip of n frames, Grow(c, n)
// one that is n frames longer.
class ScriptTest : public ::testing::Test {
  protected:
    ScriptTest() {
        env.AddFunction({"Clip", "[frames]i", [](Env&, const std::vector<Value>& a) {
                             return Value::FromClip(std::make_shared<LengthClip>(a[0].AsInt(10)));
                         }});
        env.AddFunction({"Grow", "c[by]i", [](Env&, const std::vector<Value>& a) {
                             return Value::FromClip(
                                 std::make_shared<LengthClip>(Length(a[0]) + a[1].AsInt(1)));
                         }});
    }

    Value Eval(const std::string& text) { return env.Evaluate(text, "t.avs"); }

    // The error text of a script that must fail.
    std::string ErrorOf(const std::string& text) {
        try {
            Eval(text);
        } catch (const ms::Error& e) {
            return e.what();
        }
        ADD_FAILURE() << "no error from: " << text;
        return "";
    }

    Env env;
};

std::string SyntaxError(int line, int column) {
    return "Script error: syntax error\n(t.avs, line " + std::to_string(line) + ", column " +
           std::to_string(column) + ")";
}

TEST(LexerTest, TokensCarryTheirPlaceAndValue) {
    auto tokens = ms::script::Tokenize("x = 12 + $FF\n  y=.5 \"a b\" \"\"\"q\n\"r\"\"\"", "t.avs");
    using K = ms::script::Token::Kind;
    ASSERT_EQ(tokens.size(), 12u);  // with End
    EXPECT_EQ(tokens[2].kind, K::Int);
    EXPECT_EQ(tokens[2].intValue, 12);
    EXPECT_EQ(tokens[2].column, 4);
    EXPECT_EQ(tokens[4].intValue, 255);
    EXPECT_EQ(tokens[5].kind, K::Newline);
    EXPECT_EQ(tokens[6].line, 2);
    EXPECT_EQ(tokens[6].column, 2);
    EXPECT_EQ(tokens[8].kind, K::Float);
    EXPECT_DOUBLE_EQ(tokens[8].floatValue, 0.5);
    EXPECT_EQ(tokens[9].text, "a b");
    EXPECT_EQ(tokens[10].text, "q\n\"r");
    // After a string spanning lines the count goes on.
    auto more = ms::script::Tokenize("\"\"\"a\nb\"\"\" )", "t.avs");
    EXPECT_EQ(more[1].line, 2);
    EXPECT_EQ(more[1].column, 5);
}

TEST(LexerTest, ContinuationsAndCommentsProduceNoStatements) {
    using K = ms::script::Token::Kind;
    auto count = [](const std::string& text) {
        int newlines = 0;
        for (const auto& t : ms::script::Tokenize(text, "t.avs"))
            newlines += t.kind == K::Newline;
        return newlines;
    };
    EXPECT_EQ(count("a \\  \n b"), 0);       // trailing backslash
    EXPECT_EQ(count("a\n   \\ b"), 0);       // leading backslash
    EXPECT_EQ(count("a # c \\\n b"), 1);     // a comment ends at its line
    EXPECT_EQ(count("a /* x\n y */ b"), 0);  // block comment
    EXPECT_EQ(count("\n\n a \r\n\n b \n"), 2);
    auto tokens = ms::script::Tokenize("a \\\n  b", "t.avs");
    EXPECT_EQ(tokens[1].line, 2);
    EXPECT_EQ(tokens[1].column, 2);
}

TEST(LexerTest, UnreadableInputIsASyntaxErrorAtItsPlace) {
    struct Case {
        const char* text;
        int line, column;
    } cases[] = {
        {"a = @", 1, 4},
        {"x\n  \"open", 2, 2},
        {"\"\"\"never closed", 1, 0},
        {"a = 99999999999", 1, 4},
        {"a \\ b", 1, 2},
        {"/* open", 1, 0},
        {"$", 1, 0},
        {"12ab", 1, 0},
    };
    for (const auto& c : cases) {
        try {
            ms::script::Tokenize(c.text, "t.avs");
            ADD_FAILURE() << c.text;
        } catch (const ms::Error& e) {
            EXPECT_EQ(e.what(), SyntaxError(c.line, c.column)) << c.text;
        }
    }
    try {  // a NUL byte is no character of the language either
        ms::script::Tokenize(std::string("a\0b", 3), "t.avs");
        ADD_FAILURE();
    } catch (const ms::Error& e) {
        EXPECT_EQ(e.what(), SyntaxError(1, 1));
    }
}

TEST_F(ScriptTest, SyntaxErrorsNameTheOffendingToken) {
    EXPECT_EQ(ErrorOf(")"), SyntaxError(1, 0));
    EXPECT_EQ(ErrorOf("Clip(\n"), SyntaxError(1, 5));
    EXPECT_EQ(ErrorOf("a = 1\nb = (2 +\n"), SyntaxError(2, 8));
    EXPECT_EQ(ErrorOf("Clip(frames=)"), SyntaxError(1, 12));
    EXPECT_EQ(ErrorOf("Clip() Clip()"), SyntaxError(1, 7));
    EXPECT_EQ(ErrorOf("c = Clip()\nc.\n"), SyntaxError(2, 2));
    EXPECT_EQ(ErrorOf("x = 1 ? 2"), SyntaxError(1, 9));
    EXPECT_EQ(ErrorOf("return"), SyntaxError(1, 6));
    // Nothing runs before the whole script has been read.
    EXPECT_EQ(ErrorOf("Assert(false)\n)"), SyntaxError(2, 0));
}

TEST_F(ScriptTest, DeepNestingIsRefusedNotOverflowed) {
    std::string parens(5000, '(');
    EXPECT_NE(ErrorOf(parens + "1").find("syntax error"), std::string::npos);
    std::string chain = "1";
    for (int i = 0; i < 5000; ++i)
        chain += "+1";
    EXPECT_NE(ErrorOf(chain).find("syntax error"), std::string::npos);
    std::string methods = "Clip()";
    for (int i = 0; i < 5000; ++i)
        methods += ".Grow";
    EXPECT_NE(ErrorOf(methods).find("syntax error"), std::string::npos);
    // Reasonable depth still works.
    EXPECT_EQ(Eval(std::string(50, '(') + "7" + std::string(50, ')')).AsInt(), 7);
}

TEST_F(ScriptTest, Arithmetic) {
    EXPECT_EQ(Eval("1 + 2 * 3 - 4 / 2").AsInt(), 5);
    EXPECT_EQ(Eval("(1 + 2) * 3").AsInt(), 9);
    EXPECT_EQ(Eval("7 % 3").AsInt(), 1);
    EXPECT_EQ(Eval("-7 / 2").AsInt(), -3);
    EXPECT_EQ(Eval("- -3").AsInt(), 3);
    EXPECT_EQ(Eval("2147483647 + 1").AsInt(), -2147483647 - 1);  // wraps like AviSynth
    EXPECT_EQ(Eval("(-2147483647 - 1) / -1").AsInt(), -2147483647 - 1);
    EXPECT_EQ(Eval("$FFFFFFFF").AsInt(), -1);
    Value f = Eval("1 / 2.0");
    EXPECT_EQ(f.GetType(), Value::Type::Float);
    EXPECT_DOUBLE_EQ(f.AsFloat(), 0.5);
    EXPECT_EQ(Eval("1 / 2").GetType(), Value::Type::Int);
    EXPECT_DOUBLE_EQ(Eval("5.5 % 2").AsFloat(), 1.5);
    EXPECT_EQ(Eval("\"ab\" + \"cd\"").AsString(), "abcd");
    EXPECT_EQ(ErrorOf("1 / 0"), "Evaluate: division by zero\n(t.avs, line 1)");
    EXPECT_EQ(ErrorOf("x = 0\n1 % x"), "Evaluate: division by zero\n(t.avs, line 2)");
    EXPECT_NE(ErrorOf("\"a\" + 1").find("must both be numbers or strings"), std::string::npos);
    EXPECT_NE(ErrorOf("\"a\" * \"b\"").find("must be numbers"), std::string::npos);
    EXPECT_NE(ErrorOf("Clip() + Clip()").find("\"+\""), std::string::npos);
    EXPECT_NE(ErrorOf("-\"a\"").find("must be a number"), std::string::npos);
}

TEST_F(ScriptTest, ComparisonsAndLogic) {
    EXPECT_TRUE(Eval("1 < 2 && 2 <= 2 && 3 > 2 && 3 >= 3 && 1 == 1 && 1 != 2 && 1 <> 2").AsBool());
    EXPECT_TRUE(Eval("1 == 1.0").AsBool());
    EXPECT_TRUE(Eval("\"ABC\" == \"abc\"").AsBool());  // strings compare without case
    EXPECT_TRUE(Eval("\"abc\" < \"ABD\"").AsBool());
    EXPECT_TRUE(Eval("true != false").AsBool());
    EXPECT_FALSE(Eval("!true").AsBool());
    EXPECT_TRUE(Eval("false || !false").AsBool());
    // The right side is not evaluated when the left decides.
    EXPECT_FALSE(Eval("false && NoSuchFunction()").AsBool());
    EXPECT_TRUE(Eval("true || NoSuchFunction()").AsBool());
    EXPECT_EQ(Eval("1 > 2 ? \"yes\" : \"no\"").AsString(), "no");
    EXPECT_EQ(Eval("true ? 1 : NoSuchFunction()").AsInt(), 1);
    EXPECT_NE(ErrorOf("1 && true").find("must be boolean"), std::string::npos);
    EXPECT_NE(ErrorOf("1 ? 2 : 3").find("must be boolean"), std::string::npos);
    EXPECT_NE(ErrorOf("true < false").find("cannot be compared"), std::string::npos);
    EXPECT_NE(ErrorOf("1 == \"1\"").find("cannot be compared"), std::string::npos);
}

TEST_F(ScriptTest, ScriptValueFollowsAviSynthsRules) {
    EXPECT_TRUE(Eval("").IsVoid());
    EXPECT_TRUE(Eval("# only a comment\n\n").IsVoid());
    EXPECT_EQ(Eval("42").AsInt(), 42);
    EXPECT_EQ(Eval("x = 1\nx + 1").AsInt(), 2);
    // A clip expression sets last; a final assignment makes last the value.
    EXPECT_EQ(Length(Eval("Clip(5)\ny = 3")), 5);
    EXPECT_EQ(Length(Eval("Clip(5)\n7\nz = 1")), 5);
    // return ends the script at once.
    EXPECT_EQ(Eval("return 1\nNoSuchFunction()").AsInt(), 1);
    EXPECT_EQ(Length(Eval("c = Clip(3)\nreturn c.Grow(2)")), 5);
}

TEST_F(ScriptTest, ImplicitLastAndTheMethodForm) {
    EXPECT_EQ(Length(Eval("Clip(5)\nGrow(2)")), 7);
    EXPECT_EQ(Length(Eval("Clip(5)\nGrow()\nGrow")), 7);  // with and without parentheses
    EXPECT_EQ(Length(Eval("Clip(5).Grow.Grow(by=3)")), 9);
    EXPECT_EQ(Length(Eval("c = Clip(1)\nc.Grow(2)")), 3);
    EXPECT_EQ(Length(Eval("Clip(5)\nGrow(Clip(1), 1)")), 2);  // a clip given: last unused
    EXPECT_EQ(Length(Eval("Clip(5)\nlast.Grow")), 6);
    // Without last there is nothing to fill in.
    Env fresh;
    fresh.AddFunction({"Grow", "c", [](Env&, const std::vector<Value>& a) { return a[0]; }});
    try {
        fresh.Evaluate("\n\nGrow()", "t.avs");
        FAIL();
    } catch (const ms::Error& e) {
        EXPECT_STREQ(e.what(),
                     "Script error: Invalid arguments to function \"Grow\"\n(t.avs, line 3)");
    }
}

TEST_F(ScriptTest, NamesAreCaseInsensitive) {
    EXPECT_EQ(Eval("Foo = 3\nfOO + FOO").AsInt(), 6);
    EXPECT_EQ(Length(Eval("CLIP(FRAMES=4).grow")), 5);
    EXPECT_TRUE(Eval("TRUE && False == false").AsBool());
    EXPECT_EQ(Eval("global g = 2\ng").AsInt(), 2);
}

TEST_F(ScriptTest, CallErrorsAreWordedAsInAviSynth) {
    EXPECT_EQ(ErrorOf("a = 1\n\nFoo(1)"),
              "Script error: There is no function named \"Foo\".\n(t.avs, line 3)");
    EXPECT_EQ(ErrorOf("Clip(\"x\")"),
              "Script error: Invalid arguments to function \"Clip\"\n(t.avs, line 1)");
    EXPECT_EQ(ErrorOf("Clip(1, 2)"),
              "Script error: Invalid arguments to function \"Clip\"\n(t.avs, line 1)");
    EXPECT_EQ(ErrorOf("Clip(length=2)"),
              "Script error: Invalid arguments to function \"Clip\"\n(t.avs, line 1)");
    EXPECT_EQ(ErrorOf("Clip(frames=1, frames=2)"),
              "Script error: Invalid arguments to function \"Clip\"\n(t.avs, line 1)");
    EXPECT_EQ(ErrorOf("x = nothing"),
              "Script error: I don't know what \"nothing\" means.\n(t.avs, line 1)");
    // The error is placed at the line of the failing call, also inside a continued statement.
    EXPECT_EQ(ErrorOf("Clip(1).Grow(1) \\\n  .Bad()"),
              "Script error: There is no function named \"Bad\".\n(t.avs, line 2)");
    // Located once, where it happened, not again by the enclosing calls.
    EXPECT_EQ(ErrorOf("Grow(Grow(Clip(), Foo()))"),
              "Script error: There is no function named \"Foo\".\n(t.avs, line 1)");
}

TEST(SignatureTest, ParsesAviSynthsNotation) {
    auto params = ms::ParseSignature("c[radius]f[]s.*[n]i+");
    ASSERT_EQ(params.size(), 5u);
    EXPECT_EQ(params[0].type, 'c');
    EXPECT_FALSE(params[0].optional);
    EXPECT_EQ(params[1].name, "radius");
    EXPECT_TRUE(params[1].optional);
    EXPECT_TRUE(params[2].optional);
    EXPECT_TRUE(params[2].name.empty());
    EXPECT_EQ(params[3].repeat, '*');
    EXPECT_EQ(params[4].repeat, '+');
    EXPECT_TRUE(ms::ParseSignature("").empty());
    for (const char* bad : {"x", "[name", "[a]", "c[", "i**"})
        EXPECT_THROW(ms::ParseSignature(bad), std::invalid_argument) << bad;
}

TEST(SignatureTest, BindsPositionalThenNamedArguments) {
    auto clip = Value::FromClip(std::make_shared<LengthClip>(1));
    auto params = ms::ParseSignature("ci[scale]f[name]s");
    std::vector<Value> out;

    ASSERT_TRUE(ms::BindArguments(params, {clip, Value::Int(2), Value::Int(3)}, {}, out));
    EXPECT_EQ(out[2].GetType(), Value::Type::Float);  // an int given for a float
    EXPECT_DOUBLE_EQ(out[2].AsFloat(), 3.0);
    EXPECT_TRUE(out[3].IsVoid());

    ASSERT_TRUE(ms::BindArguments(params, {clip, Value::String("n"), Value::Int(2)},
                                  {"", "NAME", ""}, out));
    EXPECT_EQ(out[1].AsInt(), 2);
    EXPECT_EQ(out[3].AsString(), "n");

    // A void argument leaves an optional parameter unset.
    ASSERT_TRUE(ms::BindArguments(params, {clip, Value::Int(1), Value()}, {}, out));
    EXPECT_TRUE(out[2].IsVoid());

    struct Case {
        std::vector<Value> args;
        std::vector<std::string> names;
        const char* why;
    } bad[] = {
        {{clip}, {}, "required int missing"},
        {{Value::Int(1), Value::Int(2)}, {}, "wrong type"},
        {{clip, Value::Float(1.5)}, {}, "float for an int"},
        {{clip, Value::Int(1), Value::Int(2), Value::String("a"), Value::Int(3)}, {}, "too many"},
        {{clip, Value::Int(1), Value::Int(2)}, {"", "", "nope"}, "unknown name"},
        {{clip, Value::Int(1), Value::Int(2), Value::Int(3)}, {"", "", "", "scale"}, "twice"},
        {{clip, Value::Int(1), Value::Bool(true)}, {"", "", "scale"}, "named wrong type"},
        {{clip, Value()}, {}, "void for a required parameter"},
    };
    for (const auto& c : bad)
        EXPECT_FALSE(ms::BindArguments(params, c.args, c.names, out)) << c.why;
}

TEST(SignatureTest, RepeatedParametersCollectArrays) {
    std::vector<Value> out;
    auto star = ms::ParseSignature("i*s");
    ASSERT_TRUE(ms::BindArguments(star, {Value::String("x")}, {}, out));
    EXPECT_TRUE(out[0].AsArray().empty());
    ASSERT_TRUE(
        ms::BindArguments(star, {Value::Int(1), Value::Int(2), Value::String("x")}, {}, out));
    EXPECT_EQ(out[0].AsArray().size(), 2u);
    EXPECT_EQ(out[1].AsString(), "x");

    auto plus = ms::ParseSignature("s+");
    EXPECT_FALSE(ms::BindArguments(plus, {}, {}, out));
    ASSERT_TRUE(ms::BindArguments(plus, {Value::String("a"), Value::String("b")}, {}, out));
    EXPECT_EQ(out[0].AsArray()[1].AsString(), "b");

    auto floats = ms::ParseSignature("f*");
    ASSERT_TRUE(ms::BindArguments(floats, {Value::Int(1), Value::Float(2.5)}, {}, out));
    EXPECT_EQ(out[0].AsArray()[0].GetType(), Value::Type::Float);
}

// Script files in a fresh directory, removed afterwards.
class ImportTest : public ScriptTest {
  protected:
    ImportTest() {
        dir = fs::temp_directory_path() /
              ("minisynth-import-" +
               std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir / "sub");
    }
    ~ImportTest() override {
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
    std::string Write(const std::string& name, const std::string& text) {
        std::ofstream(dir / name, std::ios::binary) << text;
        return (dir / name).string();
    }
    fs::path dir;
};

TEST_F(ImportTest, ImportEvaluatesAFileAndSharesVariables) {
    std::string lib = Write("lib.avs", "\xEF\xBB\xBFwidth_ = 3\r\nClip(width_)\r\n");
    Value v = env.Import(lib);
    EXPECT_EQ(Length(v), 3);
    EXPECT_EQ(Eval("width_").AsInt(), 3);
    EXPECT_EQ(Length(Eval("Import(\"" + lib + "\")\nGrow")), 4);
    // Several files in one call: the value is the last one's.
    std::string two = Write("two.avs", "2");
    EXPECT_EQ(Eval("Import(\"" + lib + "\", \"" + two + "\")").AsInt(), 2);
}

// Missing files and the error chain are covered through the C interface; here the cases
// that need no host.
TEST_F(ImportTest, UnreadableAndSelfImportingScripts) {
    EXPECT_THROW(env.Import(dir.string()), ms::Error);  // a directory
    EXPECT_THROW(env.Import(""), ms::Error);
    std::string self = Write("self.avs", "Import(\"self.avs\")");
    try {
        env.Import(self);
        FAIL();
    } catch (const ms::Error& e) {
        EXPECT_NE(std::string(e.what()).find("nested too deeply"), std::string::npos);
    }
}

TEST_F(ScriptTest, AssertAndVersion) {
    EXPECT_TRUE(Eval("Assert(1 < 2)").IsVoid());
    EXPECT_EQ(ErrorOf("Assert(false)"), "Assert: assertion failed\n(t.avs, line 1)");
    EXPECT_EQ(ErrorOf("\nAssert(1 > 2, \"too small\")"), "too small\n(t.avs, line 2)");
    EXPECT_EQ(ErrorOf("Assert(1 > 2, message=\"m\")"), "m\n(t.avs, line 1)");
    EXPECT_EQ(Eval("VersionString()").AsString(), ms::kVersionString);
    EXPECT_DOUBLE_EQ(Eval("VersionNumber").AsFloat(), ms::kVersionNumber);
    EXPECT_EQ(Eval("c = Clip(7)\nFrameCount(c) * 100 + Width(c) + Height(c)").AsInt(), 732);
    EXPECT_DOUBLE_EQ(Eval("Clip().FrameRate").AsFloat(), 25.0);
}

TEST(EnvTest, LaterRegistrationsReplaceEarlierOnes) {
    Env env;
    env.AddFunction({"ASSERT", "", [](Env&, const std::vector<Value>&) { return Value::Int(5); }});
    EXPECT_EQ(env.Invoke("assert", {}).AsInt(), 5);
    EXPECT_THROW(env.AddFunction({"Broken", "q", nullptr}), std::invalid_argument);
}

// The README is the language's manual: every function must be in it.
TEST(ReadmeTest, DocumentsEveryFunction) {
    fs::path readme = fs::path(__FILE__).parent_path() / "../../../minisynth/README.md";
    std::ifstream in(readme);
    ASSERT_TRUE(in) << readme;
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ms::Variant all;
    all.setMTMode = all.getMTMode = all.distributor = true;
    Env env(all);
    auto names = env.FunctionNames();
    EXPECT_GT(names.size(), 10u);
    for (const auto& name : names)
        EXPECT_NE(text.find("`" + name + "`"), std::string::npos) << name;
}

}  // namespace
