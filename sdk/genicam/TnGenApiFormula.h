// The formula language of SwissKnife and Converter nodes.
//
// A formula is parsed once into a tree and evaluated on demand. Numbers are
// 64-bit integers or doubles: in integer mode literals without a fraction are
// integers and integer arithmetic stays integer (division truncates toward
// zero), while a double anywhere makes the result a double; in float mode
// every number is a double. Bit operations, % and shifts work on the integer
// value of their operands; shifts count modulo 64 (1 << 64 is 1) and a right
// shift keeps the sign. Comparisons and logic give 1 or 0.
//
// One rule for the corner cases, in integer and float arithmetic alike:
// - a division or remainder by zero, or by a double closer to zero than the
//   double's epsilon (about 2.2e-16), fails the evaluation ("division by
//   zero"); no infinity or NaN comes out of it;
// - wherever a double becomes an integer (a formula's result in integer mode,
//   a converter writing to an integer), it is rounded to the nearest integer,
//   halves away from zero, except the operand of a bit operation, whose
//   integer part counts (0.5 & 1 is 0); a value that is not finite or lies
//   beyond 64 bits fails.
//
// Operators from the lowest to the highest precedence, as GenICam tools
// evaluate them (not as in C: "A = 3 || A = 1" is ((A = 3) || A) = 1, and
// "1 | 2 + 3" is (1 | 2) + 3), each level left associative:
//   ?: (a ? b : c ? d : e is (a ? b : c) ? d : e)
//   then || && = <> (also == !=) < > <= >=   then + -   then * / %
//   then ** << >> & | ^   then unary - + ~ !
// Only the branch a condition chooses is evaluated.
// Constants are decimal, decimal with fraction or exponent, or hexadecimal
// (0x...). Functions: SGN NEG ABS SQRT TRUNC FLOOR CEIL ROUND (one or two
// arguments) EXP LN LG SIN COS TAN ASIN ACOS ATAN, and the constants E and PI
// (with or without parentheses). Other names are variables: the parser asks a
// lookup for an identifier of each.
#ifndef TN_GENAPI_FORMULA_H
#define TN_GENAPI_FORMULA_H

#include <stdint.h>

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace tn
{
namespace genicam
{

/// A value of a formula: an integer or a double.
struct FormulaValue
{
    bool mIsInteger = true;
    int64_t mInteger = 0;
    double mFloat = 0.0;

    static FormulaValue FromInteger(int64_t aValue);
    static FormulaValue FromFloat(double aValue);
    double AsFloat() const;
    /// The integer value; a double is rounded by RoundToInteger. Throws
    /// FormulaError for values that are not finite or do not fit.
    int64_t AsInteger() const;
};

/// The engine's one rounding of a double to an integer: to the nearest,
/// halves away from zero. False for a value that is not finite or that lies
/// beyond 64 bits (aResult stays then).
bool RoundToInteger(double aValue, int64_t &aResult);

/// A syntax error, or a failure while evaluating (division by zero).
class FormulaError : public std::runtime_error
{
public:
    explicit FormulaError(const std::string &aMessage) : std::runtime_error(aMessage) {}
};

struct FormulaTerm;

/// A parsed formula.
class Formula
{
public:
    /// Gives the variable identifier of a name, or -1 for an unknown name.
    typedef std::function<int(const std::string &aName)> Lookup;
    /// Gives the value of a variable identifier.
    typedef std::function<FormulaValue(int aVariable)> Resolver;

    Formula();
    ~Formula();
    Formula(Formula &&aFormula) noexcept;
    Formula &operator=(Formula &&aFormula) noexcept;

    /// Parses aText; throws FormulaError for a syntax error or an unknown name.
    void Parse(const std::string &aText, const Lookup &aLookup);
    bool IsParsed() const;
    const std::string &GetText() const;

    /// Evaluates the formula; throws FormulaError, and passes on what the
    /// resolver throws.
    FormulaValue Evaluate(const Resolver &aResolver, bool aIntegerMode) const;

private:
    std::string mText;
    std::unique_ptr<FormulaTerm> mRoot;
};

} // namespace genicam
} // namespace tn

#endif
