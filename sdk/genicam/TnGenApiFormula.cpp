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
    {"SGN", Function::Sgn, 1, 1},   {"NEG", Function::Neg, 1, 1},     {"ABS", Function::Abs, 1, 1},
    {"SQRT", Function::Sqrt, 1, 1}, {"TRUNC", Function::Trunc, 1, 1}, {"FLOOR", Function::Floor, 1, 1},
    {"CEIL", Function::Ceil, 1, 1}, {"ROUND", Function::Round, 1, 2}, {"EXP", Function::Exp, 1, 1},
    {"LN", Function::Ln, 1, 1},     {"LG", Function::Lg, 1, 1},       {"SIN", Function::Sin, 1, 1},
    {"COS", Function::Cos, 1, 1},   {"TAN", Function::Tan, 1, 1},     {"ASIN", Function::Asin, 1, 1},
    {"ACOS", Function::Acos, 1, 1}, {"ATAN", Function::Atan, 1, 1},   {"E", Function::E, 0, 0},
    {"PI", Function::Pi, 0, 0},
};

const FunctionName *FindFunction(const std::string &aName)
{
    for (const FunctionName &lFunction : kFunctions)
    {
        if (aName == lFunction.mName)
        {
            return &lFunction;
        }
    }
    return nullptr;
}

// Integer arithmetic that wraps instead of overflowing.
int64_t Wrap(uint64_t aValue)
{
    int64_t lResult;
    memcpy(&lResult, &aValue, sizeof(lResult));
    return lResult;
}

// Shifts count modulo 64, as the processors that GenICam tools run on do:
// 1 << 64 is 1, 1 << -1 is 1 << 63; a right shift keeps the sign.
// A float divisor closer to zero than the double's epsilon divides by zero.
bool IsZeroDivisor(double aDivisor)
{
    return fabs(aDivisor) < std::numeric_limits<double>::epsilon();
}

int64_t ShiftLeft(int64_t aValue, int64_t aCount)
{
    return Wrap(static_cast<uint64_t>(aValue) << (aCount & 63));
}

int64_t ShiftRight(int64_t aValue, int64_t aCount)
{
    return aValue >> (aCount & 63);
}
} // namespace

struct FormulaTerm
{
    Op mOp = Op::Constant;
    FormulaValue mValue;
    // A hexadecimal constant: a float formula takes its low 32 bits, signed.
    bool mHex = false;
    int mVariable = -1;
    Function mFunction = Function::Sgn;
    int mDepth = 1;
    // Operands and function arguments: at most three (?:).
    static const int kMaxArguments = 3;
    std::unique_ptr<FormulaTerm> mArguments[kMaxArguments];
    int mArgumentCount = 0;

    void Add(std::unique_ptr<FormulaTerm> aArgument) { mArguments[mArgumentCount++] = std::move(aArgument); }
};

FormulaValue FormulaValue::FromInteger(int64_t aValue)
{
    FormulaValue lValue;
    lValue.mIsInteger = true;
    lValue.mInteger = aValue;
    lValue.mFloat = static_cast<double>(aValue);
    return lValue;
}

FormulaValue FormulaValue::FromFloat(double aValue)
{
    FormulaValue lValue;
    lValue.mIsInteger = false;
    lValue.mFloat = aValue;
    return lValue;
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
    int64_t lValue = 0;
    if (!RoundToInteger(mFloat, lValue))
    {
        throw FormulaError(isfinite(mFloat) ? "the result does not fit into 64 bits"
                                            : "the result is not a finite number");
    }
    return lValue;
}

bool RoundToInteger(double aValue, int64_t &aResult)
{
    // 2^63 itself does not fit.
    const double lRounded = round(aValue);
    if (!(lRounded >= -9223372036854775808.0 && lRounded < 9223372036854775808.0))
    {
        return false;
    }
    aResult = static_cast<int64_t>(lRounded);
    return true;
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

// The operators, longest spellings first so that "<=" wins over "<".
struct OperatorName
{
    const char *mSpelling;
    // The binary operator and its level (lowest first), or -1.
    Op mBinary;
    int mLevel;
};

const OperatorName kOperators[] = {
    {"**", Op::Power, 3},    {"*", Op::Multiply, 2},  {"<<", Op::ShiftLeft, 3},  {"<=", Op::LessEqual, 0},
    {"<>", Op::NotEqual, 0}, {"<", Op::Less, 0},      {">>", Op::ShiftRight, 3}, {">=", Op::GreaterEqual, 0},
    {">", Op::Greater, 0},   {"==", Op::Equal, 0},    {"=", Op::Equal, 0},       {"!=", Op::NotEqual, 0},
    {"!", Op::Constant, -1}, {"&&", Op::LogicAnd, 0}, {"&", Op::BitAnd, 3},      {"||", Op::LogicOr, 0},
    {"|", Op::BitOr, 3},     {"+", Op::Add, 1},       {"-", Op::Subtract, 1},    {"/", Op::Divide, 2},
    {"%", Op::Modulo, 2},    {"(", Op::Constant, -1}, {")", Op::Constant, -1},   {"^", Op::BitXor, 3},
    {"~", Op::Constant, -1}, {"?", Op::Constant, -1}, {":", Op::Constant, -1},   {",", Op::Constant, -1},
};

// For each first character, one more than the index of the first operator
// that starts with it (the longer spellings come first); 0 for none.
struct OperatorIndex
{
    uint8_t mFirst[256] = {0};
    OperatorIndex()
    {
        for (size_t lIndex = sizeof(kOperators) / sizeof(kOperators[0]); lIndex-- > 0;)
        {
            mFirst[static_cast<unsigned char>(kOperators[lIndex].mSpelling[0])] = static_cast<uint8_t>(lIndex + 1);
        }
    }
};
const OperatorIndex kOperatorIndex;

class Parser
{
public:
    Parser(const std::string &aText, const Formula::Lookup &aLookup) : mText(aText), mLookup(aLookup) { Next(); }

    std::unique_ptr<FormulaTerm> ParseAll()
    {
        std::unique_ptr<FormulaTerm> lTerm = ParseTernary();
        if (mToken != Token::End)
        {
            Fail("unexpected '" + Spelling() + "'");
        }
        return lTerm;
    }

private:
    [[noreturn]] void Fail(const std::string &aMessage)
    {
        throw FormulaError("formula \"" + mText + "\": " + aMessage + " at position " +
                           std::to_string(mTokenStart + 1));
    }

    // The text of the current token.
    std::string Spelling() const
    {
        return mToken == Token::End ? std::string("end of formula")
                                    : mText.substr(mTokenStart, mPosition - mTokenStart);
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
            return;
        }
        const char lC = mText[mPosition];
        if (isdigit(static_cast<unsigned char>(lC)) ||
            (lC == '.' && mPosition + 1 < mText.size() && isdigit(static_cast<unsigned char>(mText[mPosition + 1]))))
        {
            ReadNumber();
            return;
        }
        if (isalpha(static_cast<unsigned char>(lC)) || lC == '_')
        {
            size_t lEnd = mPosition;
            while (lEnd < mText.size() &&
                   (isalnum(static_cast<unsigned char>(mText[lEnd])) || mText[lEnd] == '_' || mText[lEnd] == '.'))
            {
                ++lEnd;
            }
            mToken = Token::Name;
            mPosition = lEnd;
            return;
        }
        const size_t lEnd = sizeof(kOperators) / sizeof(kOperators[0]);
        for (size_t lIndex = kOperatorIndex.mFirst[static_cast<unsigned char>(lC)];
             lIndex > 0 && lIndex <= lEnd && kOperators[lIndex - 1].mSpelling[0] == lC; ++lIndex)
        {
            const OperatorName &lOp = kOperators[lIndex - 1];
            if (lOp.mSpelling[1] == '\0' || (mPosition + 1 < mText.size() && mText[mPosition + 1] == lOp.mSpelling[1]))
            {
                mToken = Token::Operator;
                mOperator = &lOp;
                mPosition += lOp.mSpelling[1] == '\0' ? 1 : 2;
                return;
            }
        }
        Fail("unexpected character '" + std::string(1, lC) + "'");
    }

    void ReadNumber()
    {
        const char *lStart = mText.c_str() + mPosition;
        char *lEnd = nullptr;
        mToken = Token::Number;
        mHex = false;
        if (lStart[0] == '0' && (lStart[1] == 'x' || lStart[1] == 'X'))
        {
            if (!isxdigit(static_cast<unsigned char>(lStart[2])))
            {
                Fail("hexadecimal constant without digits");
            }
            errno = 0;
            const unsigned long long lValue = strtoull(lStart + 2, &lEnd, 16);
            if (errno == ERANGE)
            {
                Fail("hexadecimal constant beyond 64 bits");
            }
            mNumber = FormulaValue::FromInteger(Wrap(lValue));
            mHex = true;
        }
        else
        {
            size_t lLength = 0;
            bool lFraction = false;
            while (isdigit(static_cast<unsigned char>(lStart[lLength])))
            {
                ++lLength;
            }
            if (lStart[lLength] == '.' || lStart[lLength] == 'e' || lStart[lLength] == 'E')
            {
                lFraction = true;
            }
            if (lFraction)
            {
                mNumber = FormulaValue::FromFloat(strtod(lStart, &lEnd));
            }
            else
            {
                errno = 0;
                const unsigned long long lValue = strtoull(lStart, &lEnd, 10);
                if (errno == ERANGE || lValue > static_cast<unsigned long long>(std::numeric_limits<int64_t>::max()))
                {
                    mNumber = FormulaValue::FromFloat(strtod(lStart, &lEnd));
                }
                else
                {
                    mNumber = FormulaValue::FromInteger(static_cast<int64_t>(lValue));
                }
            }
        }
        mPosition += lEnd - lStart;
        if (mPosition < mText.size() &&
            (isalnum(static_cast<unsigned char>(mText[mPosition])) || mText[mPosition] == '_'))
        {
            Fail("malformed number");
        }
    }

    bool Accept(const char *aOperator)
    {
        if (mToken == Token::Operator && strcmp(mOperator->mSpelling, aOperator) == 0)
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
            Fail(std::string("expected '") + aOperator + "' but found '" + Spelling() + "'");
        }
    }

    std::unique_ptr<FormulaTerm> Make(Op aOp, std::unique_ptr<FormulaTerm> aLeft,
                                      std::unique_ptr<FormulaTerm> aRight = nullptr)
    {
        std::unique_ptr<FormulaTerm> lTerm(new FormulaTerm);
        lTerm->mOp = aOp;
        lTerm->Add(std::move(aLeft));
        if (aRight)
        {
            lTerm->Add(std::move(aRight));
        }
        return Checked(std::move(lTerm));
    }

    // Evaluation recurses along the tree: bound its depth.
    std::unique_ptr<FormulaTerm> Checked(std::unique_ptr<FormulaTerm> aTerm)
    {
        for (int lIndex = 0; lIndex < aTerm->mArgumentCount; ++lIndex)
        {
            aTerm->mDepth = std::max(aTerm->mDepth, aTerm->mArguments[lIndex]->mDepth + 1);
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

    // ?: is left associative, as GenICam tools read it: a ? b : c ? d : e is
    // (a ? b : c) ? d : e. A conditional between ? and : nests.
    std::unique_ptr<FormulaTerm> ParseTernary()
    {
        Nesting lNesting(*this);
        std::unique_ptr<FormulaTerm> lCondition = ParseBinary(0);
        while (Accept("?"))
        {
            std::unique_ptr<FormulaTerm> lWhenTrue = ParseTernary();
            Expect(":");
            std::unique_ptr<FormulaTerm> lWhenFalse = ParseBinary(0);
            std::unique_ptr<FormulaTerm> lTerm = Make(Op::Ternary, std::move(lCondition), std::move(lWhenTrue));
            lTerm->Add(std::move(lWhenFalse));
            lCondition = Checked(std::move(lTerm));
        }
        return lCondition;
    }

    // Precedence climbing over the binary operators' four levels, all left
    // associative (see TnGenApiFormula.h).
    std::unique_ptr<FormulaTerm> ParseBinary(int aLevel)
    {
        std::unique_ptr<FormulaTerm> lLeft = ParseUnary();
        while (mToken == Token::Operator && mOperator->mLevel >= aLevel)
        {
            const OperatorName &lOp = *mOperator;
            Next();
            std::unique_ptr<FormulaTerm> lRight = ParseBinary(lOp.mLevel + 1);
            lLeft = Make(lOp.mBinary, std::move(lLeft), std::move(lRight));
        }
        return lLeft;
    }

    std::unique_ptr<FormulaTerm> ParseUnary()
    {
        Nesting lNesting(*this);
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
        return ParsePrimary();
    }

    std::unique_ptr<FormulaTerm> ParsePrimary()
    {
        if (mToken == Token::Number)
        {
            std::unique_ptr<FormulaTerm> lTerm(new FormulaTerm);
            lTerm->mOp = Op::Constant;
            lTerm->mValue = mNumber;
            lTerm->mHex = mHex;
            Next();
            return lTerm;
        }
        if (Accept("("))
        {
            std::unique_ptr<FormulaTerm> lTerm = ParseTernary();
            Expect(")");
            return lTerm;
        }
        if (mToken == Token::Name)
        {
            const std::string lName = Spelling();
            Next();
            const bool lCall = mToken == Token::Operator && mOperator->mSpelling[0] == '(';
            if (!lCall)
            {
                const int lVariable = mLookup ? mLookup(lName) : -1;
                if (lVariable >= 0)
                {
                    std::unique_ptr<FormulaTerm> lTerm(new FormulaTerm);
                    lTerm->mOp = Op::Variable;
                    lTerm->mVariable = lVariable;
                    return lTerm;
                }
            }
            const FunctionName *lFunction = FindFunction(lName);
            if (lFunction == nullptr || (!lCall && lFunction->mMaxArguments > 0))
            {
                Fail(lCall ? "unknown function '" + lName + "'" : "unknown name '" + lName + "'");
            }
            std::unique_ptr<FormulaTerm> lTerm(new FormulaTerm);
            lTerm->mOp = Op::Function;
            lTerm->mFunction = lFunction->mFunction;
            if (lCall)
            {
                Next();
                if (!Accept(")"))
                {
                    do
                    {
                        if (lTerm->mArgumentCount == lFunction->mMaxArguments)
                        {
                            Fail("wrong number of arguments for " + lName);
                        }
                        lTerm->Add(ParseTernary());
                    } while (Accept(","));
                    Expect(")");
                }
                const int lCount = lTerm->mArgumentCount;
                if (lCount < lFunction->mMinArguments || lCount > lFunction->mMaxArguments)
                {
                    Fail("wrong number of arguments for " + lName);
                }
            }
            return Checked(std::move(lTerm));
        }
        Fail("unexpected '" + Spelling() + "'");
    }

    const std::string &mText;
    const Formula::Lookup &mLookup;
    size_t mPosition = 0;
    size_t mTokenStart = 0;
    Token mToken = Token::End;
    const OperatorName *mOperator = nullptr;
    FormulaValue mNumber;
    bool mHex = false;
    int mNesting = 0;
};

class Evaluator
{
public:
    Evaluator(const Formula::Resolver &aResolver, bool aIntegerMode) : mResolver(aResolver), mIntegerMode(aIntegerMode)
    {
    }

    FormulaValue Evaluate(const FormulaTerm &aTerm)
    {
        switch (aTerm.mOp)
        {
        case Op::Constant:
            if (aTerm.mHex && !mIntegerMode)
            {
                return FormulaValue::FromFloat(static_cast<int32_t>(static_cast<uint32_t>(aTerm.mValue.mInteger)));
            }
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
        const FormulaValue lLeft = Evaluate(*aTerm.mArguments[0]);
        if (aTerm.mArgumentCount == 1)
        {
            return Unary(aTerm.mOp, lLeft);
        }
        const FormulaValue lRight = Evaluate(*aTerm.mArguments[1]);
        return BinaryOp(aTerm.mOp, lLeft, lRight);
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

    static bool Truth(const FormulaValue &aValue)
    {
        return aValue.mIsInteger ? aValue.mInteger != 0 : aValue.mFloat != 0.0;
    }

    FormulaValue Bool(bool aValue) const { return Normalise(FormulaValue::FromInteger(aValue ? 1 : 0)); }

    FormulaValue Number(int64_t aValue) const { return Normalise(FormulaValue::FromInteger(aValue)); }

    // The integer operand of a bit operation: a double's integer part. A
    // float formula's bit operations work on 32-bit signed integers, as
    // GenICam tools compute them (so that (X << 16) >> 16 extends the sign
    // of a 16-bit X); a value beyond 32 bits fails there.
    int64_t Bits(const FormulaValue &aValue) const
    {
        if (aValue.mIsInteger && mIntegerMode)
        {
            return aValue.mInteger;
        }
        const double lWhole = trunc(aValue.AsFloat());
        const double lLimit = mIntegerMode ? 9223372036854775808.0 : 2147483648.0;
        if (!(lWhole >= -lLimit && lWhole < lLimit))
        {
            throw FormulaError(mIntegerMode ? "bit operation on a value beyond 64 bits"
                                            : "bit operation on a value beyond 32 bits in a float formula");
        }
        return static_cast<int64_t>(lWhole);
    }

    // The result of a bit operation: 32 bits, signed, in a float formula.
    FormulaValue BitResult(int64_t aValue) const
    {
        return mIntegerMode ? FormulaValue::FromInteger(aValue)
                            : FormulaValue::FromFloat(static_cast<int32_t>(static_cast<uint32_t>(aValue)));
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
            return BitResult(~Bits(aValue));
        case Op::LogicNot:
            return Bool(!Truth(aValue));
        default:
            throw FormulaError("bad unary operator");
        }
    }

    FormulaValue BinaryOp(Op aOp, const FormulaValue &aLeft, const FormulaValue &aRight) const
    {
        const bool lIntegers = aLeft.mIsInteger && aRight.mIsInteger;
        switch (aOp)
        {
        case Op::Add:
            return lIntegers ? FormulaValue::FromInteger(
                                   Wrap(static_cast<uint64_t>(aLeft.mInteger) + static_cast<uint64_t>(aRight.mInteger)))
                             : FormulaValue::FromFloat(aLeft.AsFloat() + aRight.AsFloat());
        case Op::Subtract:
            return lIntegers ? FormulaValue::FromInteger(
                                   Wrap(static_cast<uint64_t>(aLeft.mInteger) - static_cast<uint64_t>(aRight.mInteger)))
                             : FormulaValue::FromFloat(aLeft.AsFloat() - aRight.AsFloat());
        case Op::Multiply:
            return lIntegers ? FormulaValue::FromInteger(
                                   Wrap(static_cast<uint64_t>(aLeft.mInteger) * static_cast<uint64_t>(aRight.mInteger)))
                             : FormulaValue::FromFloat(aLeft.AsFloat() * aRight.AsFloat());
        case Op::Divide:
            if (lIntegers)
            {
                if (aRight.mInteger == 0)
                {
                    throw FormulaError("division by zero");
                }
                if (aRight.mInteger == -1)
                {
                    return FormulaValue::FromInteger(Wrap(0 - static_cast<uint64_t>(aLeft.mInteger)));
                }
                return FormulaValue::FromInteger(aLeft.mInteger / aRight.mInteger);
            }
            if (IsZeroDivisor(aRight.AsFloat()))
            {
                throw FormulaError("division by zero");
            }
            return FormulaValue::FromFloat(aLeft.AsFloat() / aRight.AsFloat());
        case Op::Modulo:
            if (lIntegers || mIntegerMode)
            {
                const int64_t lX = Bits(aLeft);
                const int64_t lY = Bits(aRight);
                if (lY == 0)
                {
                    throw FormulaError("division by zero");
                }
                return Number(lY == -1 ? 0 : lX % lY);
            }
            if (IsZeroDivisor(aRight.AsFloat()))
            {
                throw FormulaError("division by zero");
            }
            return FormulaValue::FromFloat(fmod(aLeft.AsFloat(), aRight.AsFloat()));
        case Op::Power:
            if (lIntegers && aRight.mInteger >= 0)
            {
                uint64_t lResult = 1;
                uint64_t lBase = static_cast<uint64_t>(aLeft.mInteger);
                for (int64_t lExponent = aRight.mInteger; lExponent > 0; lExponent >>= 1)
                {
                    if (lExponent & 1)
                    {
                        lResult *= lBase;
                    }
                    lBase *= lBase;
                }
                return FormulaValue::FromInteger(Wrap(lResult));
            }
            return FormulaValue::FromFloat(pow(aLeft.AsFloat(), aRight.AsFloat()));
        case Op::ShiftLeft:
            return BitResult(mIntegerMode ? ShiftLeft(Bits(aLeft), Bits(aRight))
                                          : static_cast<int32_t>(static_cast<uint32_t>(Bits(aLeft)) << (Bits(aRight) & 31)));
        case Op::ShiftRight:
            return BitResult(mIntegerMode ? ShiftRight(Bits(aLeft), Bits(aRight)) : Bits(aLeft) >> (Bits(aRight) & 31));
        case Op::BitAnd:
            return BitResult(Bits(aLeft) & Bits(aRight));
        case Op::BitOr:
            return BitResult(Bits(aLeft) | Bits(aRight));
        case Op::BitXor:
            return BitResult(Bits(aLeft) ^ Bits(aRight));
        case Op::Equal:
            return Bool(lIntegers ? aLeft.mInteger == aRight.mInteger : aLeft.AsFloat() == aRight.AsFloat());
        case Op::NotEqual:
            return Bool(lIntegers ? aLeft.mInteger != aRight.mInteger : aLeft.AsFloat() != aRight.AsFloat());
        case Op::Less:
            return Bool(lIntegers ? aLeft.mInteger < aRight.mInteger : aLeft.AsFloat() < aRight.AsFloat());
        case Op::Greater:
            return Bool(lIntegers ? aLeft.mInteger > aRight.mInteger : aLeft.AsFloat() > aRight.AsFloat());
        case Op::LessEqual:
            return Bool(lIntegers ? aLeft.mInteger <= aRight.mInteger : aLeft.AsFloat() <= aRight.AsFloat());
        case Op::GreaterEqual:
            return Bool(lIntegers ? aLeft.mInteger >= aRight.mInteger : aLeft.AsFloat() >= aRight.AsFloat());
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
        FormulaValue lArguments[FormulaTerm::kMaxArguments];
        for (int lIndex = 0; lIndex < aTerm.mArgumentCount; ++lIndex)
        {
            lArguments[lIndex] = Evaluate(*aTerm.mArguments[lIndex]);
        }
        const FormulaValue lX = lArguments[0];
        const double lF = lX.AsFloat();
        switch (aTerm.mFunction)
        {
        case Function::Sgn:
            return Number(lF > 0 ? 1 : (lF < 0 ? -1 : 0));
        case Function::Neg:
            return Unary(Op::Negate, lX);
        case Function::Abs:
            if (lX.mIsInteger)
            {
                return FormulaValue::FromInteger(lX.mInteger < 0 ? Wrap(0 - static_cast<uint64_t>(lX.mInteger))
                                                                 : lX.mInteger);
            }
            return FormulaValue::FromFloat(fabs(lF));
        case Function::Sqrt:
            return FormulaValue::FromFloat(sqrt(lF));
        case Function::Trunc:
            return Integral(lX, trunc(lF));
        case Function::Floor:
            return Integral(lX, floor(lF));
        case Function::Ceil:
            return Integral(lX, ceil(lF));
        case Function::Round:
            if (aTerm.mArgumentCount == 2)
            {
                const double lScale = pow(10.0, lArguments[1].AsFloat());
                return FormulaValue::FromFloat(round(lF * lScale) / lScale);
            }
            return Integral(lX, round(lF));
        case Function::Exp:
            return FormulaValue::FromFloat(exp(lF));
        case Function::Ln:
            return FormulaValue::FromFloat(log(lF));
        case Function::Lg:
            return FormulaValue::FromFloat(log10(lF));
        case Function::Sin:
            return FormulaValue::FromFloat(sin(lF));
        case Function::Cos:
            return FormulaValue::FromFloat(cos(lF));
        case Function::Tan:
            return FormulaValue::FromFloat(tan(lF));
        case Function::Asin:
            return FormulaValue::FromFloat(asin(lF));
        case Function::Acos:
            return FormulaValue::FromFloat(acos(lF));
        case Function::Atan:
            return FormulaValue::FromFloat(atan(lF));
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
    Parser lParser(mText, aLookup);
    mRoot = lParser.ParseAll();
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
    Evaluator lEvaluator(aResolver, aIntegerMode);
    return lEvaluator.Evaluate(*mRoot);
}

} // namespace genicam
} // namespace tn
