# cmake -DINPUT=<file.xml> -DOUTPUT=<file.cpp> -DNAME=<function> -P EmbedXml.cmake
# Writes a source file whose function tn::stream::<NAME>() returns the XML.
file(READ ${INPUT} content)
file(WRITE ${OUTPUT}
"// Made by EmbedXml.cmake from ${INPUT}: do not edit.
#include \"TnStreamXml.h\"

namespace tn
{
namespace stream
{
const std::string &${NAME}()
{
    static const std::string *sXml = new std::string(R\"tnxml(${content})tnxml\");
    return *sXml;
}
} // namespace stream
} // namespace tn
")
