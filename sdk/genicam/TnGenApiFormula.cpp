#include "TnGenApiFormula.h"

#include <ctype.h>
#include <errno.h>
#include <math.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <limits>

namespace tn
{
namespace genicam
{

namespace
{
enum class Op
{
    Constant,
    Variable,
    Negate,
    Plus,
    BitNot,
    LogicNot,
    Add,
    Subtract,
    Multiply,
    Divide,
    Modulo,
    Power,
    ShiftLeft,
    ShiftRight,
    BitAnd,
    BitOr,
    BitXor,
    Equal,
    NotEqual,
    Less,
    Greater,
    LessEqual,
    GreaterEqual,
    LogicAnd,
    LogicOr,
    Ternary,
    Function
};

enum class Function
{
    Sgn,
    Neg,
    Abs,
    Sqrt,
    Trunc,
    Floor,
    Ceil,
    Round,
    Exp,
    Ln,
    Lg,
    Sin,
    Cos,
    Tan,
    Asin,
    Acos,
    Atan,
    E,
    Pi
};

struct FunctionName
{
    const char *mName;
    Function mFunction;
    int mMinArguments;
    int mMaxArguments;
};

const FunctionName kFunctions[] = {
    {"SGN", Function::Sgn, 1, 1},     {"NEG", Function::Neg, 1, 1},     {"ABS", Function::Abs, 1, 1},
    {"SQRT", Function::Sqrt, 1, 1},   {"TRUNC", Function::Trunc, 1, 1}, {"FLOOR", Function::Floor, 1, 1},
    {"CEIL", Function::Ceil, 1, 1},   {"ROUND", Function::Round, 1, 2}, {"EXP", Function::Exp, 1, 1},
    {"LN", Function::Ln, 1, 1},       {"LG", Function::Lg, 1, 1},       {"SIN", Function::Sin, 1, 1},
    {"COS", Function::Cos, 1, 1},     {"TAN", Function::Tan, 1, 1},     {"ASIN", Function::Asin, 1, 1},
    {"ACOS", Function::Acos, 1, 1},   {"ATAN", Function::Atan, 1, 1},   {"E", Function::E, 0, 0},
    {"PI", Function::Pi, 0, 0},
};

const FunctionName *FindFunction(const std::string &aName)
{
    for (const FunctionName &function : kFunctions)
    {
        if (aName == function.mName)
        {
            return &function;
        }
    }
    return nullptr;
}

// Integer arithmetic that wraps instead of overflowing.
int64_t Wrap(uint64_t aValue)
{
    int64_t result;
    memcpy(&result, &aValue, sizeof(result));
    return result;
}

int64_t ShiftLeft(int64_t aValue, int64_t aCount)
{
    if (aCount < 0)
    {
        aCount = -aCount;
        return aCount >= 64 ? (aValue < 0 ? -1 : 0) : (aValue >> aCount);
    }
    return aCount >= 64 ? 0 : Wrap(static_cast<uint64_t>(aValue) << aCount);
}

int64_t ShiftRight(int64_t aValue, int64_t aCount)
{
    if (aCount < 0)
    {
        return ShiftLeft(aValue, -aCount);
    }
    return aCount >= 64 ? (aValue < 0 ? -1 : 0) : (aValue >> aCount);
}
} // namespace

struct FormulaTerm
{
    Op mOp = Op::Constant;
    FormulaValue mValue;
    int mVariable = -1;
    Function mFunction = Function::Sgn;
    int mDepth = 1;
    std::vector<std::unique_ptr<FormulaTerm>> mArguments;
};

FormulaValue FormulaValue::FromInteger(int64_t aValue)
{
    FormulaValue value;
    value.mIsInteger = true;
    value.mInteger = aValue;
    value.mFloat = static_cast<double>(aValue);
    return value;
}

FormulaValue FormulaValue::FromFloat(double aValue)
{
    FormulaValue value;
    value.mIsInteger = false;
    value.mFloat = aValue;
    return value;
}

double FormulaValue::AsFloat() const
{
    return mIsInteger ? static_cast<double>(mInteger) : mFloat;
}

int64_t FormulaValue::AsInteger() const
{
    if (mIsInteger)
    {
        return mInteger;
    }
    if (!isfinite(mFloat))
    {
        throw FormulaError("the result is not a finite number");
    }
    double value = trunc(mFloat);
    const double nearest = nearbyint(mFloat);
    if (fabs(mFloat - nearest) <= 1e-9 * fmax(1.0, fabs(mFloat)))
    {
        value = nearest;
    }
    // 2^63 itself does not fit.
    if (value < -9223372036854775808.0 || value >= 9223372036854775808.0)
    {
        throw FormulaError("the result does not fit into 64 bits");
    }
    return static_cast<int64_t>(value);
}

namespace
{
enum class Token
{
    End,
    Number,
    Name,
    Operator
};

class Parser
{
public:
    Parser(const std::string &aText, const Formula::Lookup &aLookup) : mText(aText), mLookup(aLookup) { Next(); }

    std::unique_ptr<FormulaTerm> ParseAll()
    {
        std::unique_ptr<FormulaTerm> term = ParseTernary();
        if (mToken != Token::End)
        {
            Fail("unexpected '" + mSpelling + "'");
        }
        return term;
    }

private:
    [[noreturn]] void Fail(const std::string &aMessage)
    {
        throw FormulaError("formula \"" + mText + "\": " + aMessage + " at position " + std::to_string(mTokenStart + 1));
    }

    void Next()
    {
        while (mPosition < mText.size() && isspace(static_cast<unsigned char>(mText[mPosition])))
        {
            ++mPosition;
        }
        mTokenStart = mPosition;
        if (mPosition >= mText.size())
        {
            mToken = Token::End;
            mSpelling = "end of formula";
            return;
        }
        const char c = mText[mPosition];
        if (isdigit(static_cast<unsigned char>(c)) ||
            (c == '.' && mPosition + 1 < mText.size() && isdigit(static_cast<unsigned char>(mText[mPosition + 1]))))
        {
            ReadNumber();
            return;
        }
        if (isalpha(static_cast<unsigned char>(c)) || c == '_')
        {
            size_t end = mPosition;
            while (end < mText.size() &&
                   (isalnum(static_cast<unsigned char>(mText[end])) || mText[end] == '_' || mText[end] == '.'))
            {
                ++end;
            }
            mToken = Token::Name;
            mSpelling = mText.substr(mPosition, end - mPosition);
            mPosition = end;
            return;
        }
        static const char *const kOperators[] = {"**", "<<", ">>", "<=", ">=", "<>", "==", "!=", "&&", "||",
                                                 "+",  "-",  "*",  "/",  "%",  "(",  ")",  "<",  ">",  "=",
                                                 "&",  "|",  "^",  "~",  "!",  "?",  ":",  ","};
        for (const char *op : kOperators)
        {
            const size_t length = strlen(op);
            if (mText.compare(mPosition, length, op) == 0)
            {
                mToken = Token::Operator;
                mSpelling = op;
                mPosition += length;
                return;
            }
        }
        mSpelling = std::string(1, c);
        Fail("unexpected character '" + mSpelling + "'");
    }

    void ReadNumber()
    {
        const char *start = mText.c_str() + mPosition;
        char *end = nullptr;
        mToken = Token::Number;
        if (start[0] == '0' && (start[1] == 'x' || start[1] == 'X'))
        {
            if (!isxdigit(static_cast<unsigned char>(start[2])))
            {
                mSpelling = std::string(start, 2);
                Fail("hexadecimal constant without digits");
            }
            errno = 0;
            const unsigned long long value = strtoull(start + 2, &end, 16);
            if (errno == ERANGE)
            {
                mSpelling = std::string(start, end - start);
                Fail("hexadecimal constant beyond 64 bits");
            }
            mNumber = FormulaValue::FromInteger(Wrap(value));
        }
        else
        {
            size_t length = 0;
            bool fraction = false;
            while (isdigit(static_cast<unsigned char>(start[length])))
            {
                ++length;
            }
            if (start[length] == '.' || start[length] == 'e' || start[length] == 'E')
            {
                fraction = true;
            }
            if (fraction)
            {
                mNumber = FormulaValue::FromFloat(strtod(start, &end));
            }
            else
            {
                errno = 0;
                const unsigned long long value = strtoull(start, &end, 10);
                if (errno == ERANGE || value > static_cast<unsigned long long>(std::numeric_limits<int64_t>::max()))
                {
                    mNumber = FormulaValue::FromFloat(strtod(start, &end));
                }
                else
                {
                    mNumber = FormulaValue::FromInteger(static_cast<int64_t>(value));
                }
            }
        }
        mSpelling = std::string(start, end - start);
        mPosition += end - start;
        if (mPosition < mText.size() && (isalnum(static_cast<unsigned char>(mText[mPosition])) || mText[mPosition] == '_'))
        {
            Fail("malformed number");
        }
    }

    bool Accept(const char *aOperator)
    {
        if (mToken == Token::Operator && mSpelling == aOperator)
        {
            Next();
            return true;
        }
        return false;
    }

    void Expect(const char *aOperator)
    {
        if (!Accept(aOperator))
        {
            Fail(std::string("expected '") + aOperator + "' but found '" + mSpelling + "'");
        }
    }

    std::unique_ptr<FormulaTerm> Make(Op aOp, std::unique_ptr<FormulaTerm> aLeft,
                                      std::unique_ptr<FormulaTerm> aRight = nullptr)
    {
        std::unique_ptr<FormulaTerm> term(new FormulaTerm);
        term->mOp = aOp;
        term->mArguments.push_back(std::move(aLeft));
        if (aRight)
        {
            term->mArguments.push_back(std::move(aRight));
        }
        return Checked(std::move(term));
    }

    // Evaluation recurses along the tree: bound its depth.
    std::unique_ptr<FormulaTerm> Checked(std::unique_ptr<FormulaTerm> aTerm)
    {
        for (const auto &argument : aTerm->mArguments)
        {
            aTerm->mDepth = std::max(aTerm->mDepth, argument->mDepth + 1);
        }
        if (aTerm->mDepth > kMaxDepth)
        {
            Fail("formula nested too deeply");
        }
        return aTerm;
    }

    // Parsing recurses too.
    struct Nesting
    {
        explicit Nesting(Parser &aParser) : mParser(aParser)
        {
            if (++mParser.mNesting > kMaxDepth)
            {
                mParser.Fail("formula nested too deeply");
            }
        }
        ~Nesting() { --mParser.mNesting; }
        Parser &mParser;
    };

    static const int kMaxDepth = 200;

    std::unique_ptr<FormulaTerm> ParseTernary()
    {
        Nesting nesting(*this);
        std::unique_ptr<FormulaTerm> condition = ParseBinary(0);
        if (!Accept("?"))
        {
            return condition;
        }
        std::unique_ptr<FormulaTerm> whenTrue = ParseTernary();
        Expect(":");
        std::unique_ptr<FormulaTerm> whenFalse = ParseTernary();
        std::unique_ptr<FormulaTerm> term = Make(Op::Ternary, std::move(condition), std::move(whenTrue));
        term->mArguments.push_back(std::move(whenFalse));
        return Checked(std::move(term));
    }

    // Binary operators by level, lowest first.
    struct Binary
    {
        const char *mSpelling;
        Op mOp;
    };

    static const std::vector<std::vector<Binary>> &Levels()
    {
        static const std::vector<std::vector<Binary>> levels = {
            {{"||", Op::LogicOr}},
            {{"&&", Op::LogicAnd}},
            {{"|", Op::BitOr}},
            {{"^", Op::BitXor}},
            {{"&", Op::BitAnd}},
            {{"=", Op::Equal}, {"==", Op::Equal}, {"<>", Op::NotEqual}, {"!=", Op::NotEqual}},
            {{"<", Op::Less}, {">", Op::Greater}, {"<=", Op::LessEqual}, {">=", Op::GreaterEqual}},
            {{"<<", Op::ShiftLeft}, {">>", Op::ShiftRight}},
            {{"+", Op::Add}, {"-", Op::Subtract}},
            {{"*", Op::Multiply}, {"/", Op::Divide}, {"%", Op::Modulo}},
        };
        return levels;
    }

    std::unique_ptr<FormulaTerm> ParseBinary(size_t aLevel)
    {
        const auto &levels = Levels();
        if (aLevel >= levels.size())
        {
            return ParseUnary();
        }
        std::unique_ptr<FormulaTerm> left = ParseBinary(aLevel + 1);
        for (;;)
        {
            const Binary *found = nullptr;
            if (mToken == Token::Operator)
            {
                for (const Binary &binary : levels[aLevel])
                {
                    if (mSpelling == binary.mSpelling)
                    {
                        found = &binary;
                    }
                }
            }
            if (found == nullptr)
            {
                return left;
            }
            Next();
            std::unique_ptr<FormulaTerm> right = ParseBinary(aLevel + 1);
            left = Make(found->mOp, std::move(left), std::move(right));
        }
    }

    std::unique_ptr<FormulaTerm> ParseUnary()
    {
        Nesting nesting(*this);
        if (Accept("-"))
        {
            return Make(Op::Negate, ParseUnary());
        }
        if (Accept("+"))
        {
            return Make(Op::Plus, ParseUnary());
        }
        if (Accept("~"))
        {
            return Make(Op::BitNot, ParseUnary());
        }
        if (Accept("!"))
        {
            return Make(Op::LogicNot, ParseUnary());
        }
        return ParsePower();
    }

    std::unique_ptr<FormulaTerm> ParsePower()
    {
        std::unique_ptr<FormulaTerm> base = ParsePrimary();
        if (Accept("**"))
        {
            // Right associative, and the exponent may carry a sign: 2**-1.
            return Make(Op::Power, std::move(base), ParseUnary());
        }
        return base;
    }

    std::unique_ptr<FormulaTerm> ParsePrimary()
    {
        if (mToken == Token::Number)
        {
            std::unique_ptr<FormulaTerm> term(new FormulaTerm);
            term->mOp = Op::Constant;
            term->mValue = mNumber;
            Next();
            return term;
        }
        if (Accept("("))
        {
            std::unique_ptr<FormulaTerm> term = ParseTernary();
            Expect(")");
            return term;
        }
        if (mToken == Token::Name)
        {
            const std::string name = mSpelling;
            Next();
            const bool call = mToken == Token::Operator && mSpelling == "(";
            if (!call)
            {
                const int variable = mLookup ? mLookup(name) : -1;
                if (variable >= 0)
                {
                    std::unique_ptr<FormulaTerm> term(new FormulaTerm);
                    term->mOp = Op::Variable;
                    term->mVariable = variable;
                    return term;
                }
            }
            const FunctionName *function = FindFunction(name);
            if (function == nullptr || (!call && function->mMaxArguments > 0))
            {
                Fail(call ? "unknown function '" + name + "'" : "unknown name '" + name + "'");
            }
            std::unique_ptr<FormulaTerm> term(new FormulaTerm);
            term->mOp = Op::Function;
            term->mFunction = function->mFunction;
            if (call)
            {
                Next();
                if (!Accept(")"))
                {
                    do
                    {
                        term->mArguments.push_back(ParseTernary());
                    } while (Accept(","));
                    Expect(")");
                }
                const int count = static_cast<int>(term->mArguments.size());
                if (count < function->mMinArguments || count > function->mMaxArguments)
                {
                    Fail("wrong number of arguments for " + name);
                }
            }
            return Checked(std::move(term));
        }
        Fail("unexpected '" + mSpelling + "'");
    }

    const std::string &mText;
    const Formula::Lookup &mLookup;
    size_t mPosition = 0;
    size_t mTokenStart = 0;
    Token mToken = Token::End;
    std::string mSpelling;
    FormulaValue mNumber;
    int mNesting = 0;
};

class Evaluator
{
public:
    Evaluator(const Formula::Resolver &aResolver, bool aIntegerMode)
        : mResolver(aResolver), mIntegerMode(aIntegerMode)
    {
    }

    FormulaValue Evaluate(const FormulaTerm &aTerm)
    {
        switch (aTerm.mOp)
        {
        case Op::Constant:
            return Normalise(aTerm.mValue);
        case Op::Variable:
            return Normalise(mResolver(aTerm.mVariable));
        case Op::Ternary:
            return Truth(Evaluate(*aTerm.mArguments[0])) ? Evaluate(*aTerm.mArguments[1])
                                                         : Evaluate(*aTerm.mArguments[2]);
        case Op::LogicAnd:
            return Bool(Truth(Evaluate(*aTerm.mArguments[0])) && Truth(Evaluate(*aTerm.mArguments[1])));
        case Op::LogicOr:
            return Bool(Truth(Evaluate(*aTerm.mArguments[0])) || Truth(Evaluate(*aTerm.mArguments[1])));
        case Op::Function:
            return CallFunction(aTerm);
        default:
            break;
        }
        const FormulaValue a = Evaluate(*aTerm.mArguments[0]);
        if (aTerm.mArguments.size() == 1)
        {
            return Unary(aTerm.mOp, a);
        }
        const FormulaValue b = Evaluate(*aTerm.mArguments[1]);
        return BinaryOp(aTerm.mOp, a, b);
    }

private:
    // In float mode every value is a double.
    FormulaValue Normalise(const FormulaValue &aValue) const
    {
        if (!mIntegerMode && aValue.mIsInteger)
        {
            return FormulaValue::FromFloat(static_cast<double>(aValue.mInteger));
        }
        return aValue;
    }

    static bool Truth(const FormulaValue &aValue) { return aValue.mIsInteger ? aValue.mInteger != 0 : aValue.mFloat != 0.0; }

    FormulaValue Bool(bool aValue) const { return Normalise(FormulaValue::FromInteger(aValue ? 1 : 0)); }

    FormulaValue Number(int64_t aValue) const { return Normalise(FormulaValue::FromInteger(aValue)); }

    // The integer operand of a bit operation.
    static int64_t Bits(const FormulaValue &aValue)
    {
        if (aValue.mIsInteger)
        {
            return aValue.mInteger;
        }
        if (!isfinite(aValue.mFloat) || aValue.mFloat < -9223372036854775808.0 || aValue.mFloat >= 9223372036854775808.0)
        {
            throw FormulaError("bit operation on a value beyond 64 bits");
        }
        return static_cast<int64_t>(aValue.mFloat);
    }

    FormulaValue Unary(Op aOp, const FormulaValue &aValue) const
    {
        switch (aOp)
        {
        case Op::Negate:
            return aValue.mIsInteger ? FormulaValue::FromInteger(Wrap(0 - static_cast<uint64_t>(aValue.mInteger)))
                                     : FormulaValue::FromFloat(-aValue.mFloat);
        case Op::Plus:
            return aValue;
        case Op::BitNot:
            return Number(~Bits(aValue));
        case Op::LogicNot:
            return Bool(!Truth(aValue));
        default:
            throw FormulaError("bad unary operator");
        }
    }

    FormulaValue BinaryOp(Op aOp, const FormulaValue &a, const FormulaValue &b) const
    {
        const bool integers = a.mIsInteger && b.mIsInteger;
        switch (aOp)
        {
        case Op::Add:
            return integers ? FormulaValue::FromInteger(Wrap(static_cast<uint64_t>(a.mInteger) + static_cast<uint64_t>(b.mInteger)))
                            : FormulaValue::FromFloat(a.AsFloat() + b.AsFloat());
        case Op::Subtract:
            return integers ? FormulaValue::FromInteger(Wrap(static_cast<uint64_t>(a.mInteger) - static_cast<uint64_t>(b.mInteger)))
                            : FormulaValue::FromFloat(a.AsFloat() - b.AsFloat());
        case Op::Multiply:
            return integers ? FormulaValue::FromInteger(Wrap(static_cast<uint64_t>(a.mInteger) * static_cast<uint64_t>(b.mInteger)))
                            : FormulaValue::FromFloat(a.AsFloat() * b.AsFloat());
        case Op::Divide:
            if (integers)
            {
                if (b.mInteger == 0)
                {
                    throw FormulaError("division by zero");
                }
                if (b.mInteger == -1)
                {
                    return FormulaValue::FromInteger(Wrap(0 - static_cast<uint64_t>(a.mInteger)));
                }
                return FormulaValue::FromInteger(a.mInteger / b.mInteger);
            }
            return FormulaValue::FromFloat(a.AsFloat() / b.AsFloat());
        case Op::Modulo:
            if (integers || mIntegerMode)
            {
                const int64_t x = Bits(a);
                const int64_t y = Bits(b);
                if (y == 0)
                {
                    throw FormulaError("division by zero");
                }
                return Number(y == -1 ? 0 : x % y);
            }
            if (b.AsFloat() == 0.0)
            {
                throw FormulaError("division by zero");
            }
            return FormulaValue::FromFloat(fmod(a.AsFloat(), b.AsFloat()));
        case Op::Power:
            if (integers && b.mInteger >= 0)
            {
                uint64_t result = 1;
                uint64_t base = static_cast<uint64_t>(a.mInteger);
                for (int64_t exponent = b.mInteger; exponent > 0; exponent >>= 1)
                {
                    if (exponent & 1)
                    {
                        result *= base;
                    }
                    base *= base;
                }
                return FormulaValue::FromInteger(Wrap(result));
            }
            return FormulaValue::FromFloat(pow(a.AsFloat(), b.AsFloat()));
        case Op::ShiftLeft:
            return Number(ShiftLeft(Bits(a), Bits(b)));
        case Op::ShiftRight:
            return Number(ShiftRight(Bits(a), Bits(b)));
        case Op::BitAnd:
            return Number(Bits(a) & Bits(b));
        case Op::BitOr:
            return Number(Bits(a) | Bits(b));
        case Op::BitXor:
            return Number(Bits(a) ^ Bits(b));
        case Op::Equal:
            return Bool(integers ? a.mInteger == b.mInteger : a.AsFloat() == b.AsFloat());
        case Op::NotEqual:
            return Bool(integers ? a.mInteger != b.mInteger : a.AsFloat() != b.AsFloat());
        case Op::Less:
            return Bool(integers ? a.mInteger < b.mInteger : a.AsFloat() < b.AsFloat());
        case Op::Greater:
            return Bool(integers ? a.mInteger > b.mInteger : a.AsFloat() > b.AsFloat());
        case Op::LessEqual:
            return Bool(integers ? a.mInteger <= b.mInteger : a.AsFloat() <= b.AsFloat());
        case Op::GreaterEqual:
            return Bool(integers ? a.mInteger >= b.mInteger : a.AsFloat() >= b.AsFloat());
        default:
            throw FormulaError("bad binary operator");
        }
    }

    // Integral results stay integers in integer mode.
    FormulaValue Integral(const FormulaValue &aInput, double aResult) const
    {
        if (aInput.mIsInteger)
        {
            return aInput;
        }
        if (mIntegerMode && isfinite(aResult) && aResult >= -9223372036854775808.0 && aResult < 9223372036854775808.0)
        {
            return FormulaValue::FromInteger(static_cast<int64_t>(aResult));
        }
        return FormulaValue::FromFloat(aResult);
    }

    FormulaValue CallFunction(const FormulaTerm &aTerm)
    {
        std::vector<FormulaValue> arguments;
        for (const auto &argument : aTerm.mArguments)
        {
            arguments.push_back(Evaluate(*argument));
        }
        const FormulaValue x = arguments.empty() ? FormulaValue() : arguments[0];
        const double f = x.AsFloat();
        switch (aTerm.mFunction)
        {
        case Function::Sgn:
            return Number(f > 0 ? 1 : (f < 0 ? -1 : 0));
        case Function::Neg:
            return Unary(Op::Negate, x);
        case Function::Abs:
            if (x.mIsInteger)
            {
                return FormulaValue::FromInteger(x.mInteger < 0 ? Wrap(0 - static_cast<uint64_t>(x.mInteger)) : x.mInteger);
            }
            return FormulaValue::FromFloat(fabs(f));
        case Function::Sqrt:
            return FormulaValue::FromFloat(sqrt(f));
        case Function::Trunc:
            return Integral(x, trunc(f));
        case Function::Floor:
            return Integral(x, floor(f));
        case Function::Ceil:
            return Integral(x, ceil(f));
        case Function::Round:
            if (arguments.size() == 2)
            {
                const double scale = pow(10.0, arguments[1].AsFloat());
                return FormulaValue::FromFloat(round(f * scale) / scale);
            }
            return Integral(x, round(f));
        case Function::Exp:
            return FormulaValue::FromFloat(exp(f));
        case Function::Ln:
            return FormulaValue::FromFloat(log(f));
        case Function::Lg:
            return FormulaValue::FromFloat(log10(f));
        case Function::Sin:
            return FormulaValue::FromFloat(sin(f));
        case Function::Cos:
            return FormulaValue::FromFloat(cos(f));
        case Function::Tan:
            return FormulaValue::FromFloat(tan(f));
        case Function::Asin:
            return FormulaValue::FromFloat(asin(f));
        case Function::Acos:
            return FormulaValue::FromFloat(acos(f));
        case Function::Atan:
            return FormulaValue::FromFloat(atan(f));
        case Function::E:
            return FormulaValue::FromFloat(M_E);
        case Function::Pi:
            return FormulaValue::FromFloat(M_PI);
        }
        throw FormulaError("bad function");
    }

    const Formula::Resolver &mResolver;
    bool mIntegerMode;
};
} // namespace

Formula::Formula() = default;

Formula::~Formula() = default;

Formula::Formula(Formula &&aFormula) noexcept = default;

Formula &Formula::operator=(Formula &&aFormula) noexcept = default;

void Formula::Parse(const std::string &aText, const Lookup &aLookup)
{
    mText = aText;
    Parser parser(mText, aLookup);
    mRoot = parser.ParseAll();
}

bool Formula::IsParsed() const
{
    return mRoot != nullptr;
}

const std::string &Formula::GetText() const
{
    return mText;
}

FormulaValue Formula::Evaluate(const Resolver &aResolver, bool aIntegerMode) const
{
    if (!mRoot)
    {
        throw FormulaError("formula \"" + mText + "\" was not parsed");
    }
    Evaluator evaluator(aResolver, aIntegerMode);
    return evaluator.Evaluate(*mRoot);
}

} // namespace genicam
} // namespace tn
