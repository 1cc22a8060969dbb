// What the public discovery classes share inside the library: who holds the
// interfaces a search found, and the signatures that tell whether two objects
// say the same.
#ifndef TN_DISCOVERY_OBJECTS_H
#define TN_DISCOVERY_OBJECTS_H

#include <stdint.h>

#include <string>

class TnDeviceInfo;
class TnInterface;

namespace tn
{
namespace system
{
/// Holds interfaces (and through them their devices). An object it holds is
/// destroyed by the holder alone; should other hands delete one all the same,
/// its destructor tells the holder, which then forgets it instead of freeing
/// it a second time.
class TnInterfaceHolder
{
public:
    virtual void ForgetInterface(const TnInterface *aInterface) = 0;
    virtual void ForgetDevice(const TnDeviceInfo *aDevice) = 0;

protected:
    ~TnInterfaceHolder() = default;
};

// Signature fields: each one self-delimiting, so that different values never
// run together into the same text.
inline void AppendField(std::string &aSignature, const std::string &aValue)
{
    aSignature += std::to_string(aValue.size());
    aSignature += ':';
    aSignature += aValue;
}

inline void AppendField(std::string &aSignature, uint64_t aValue)
{
    aSignature += std::to_string(aValue);
    aSignature += ';';
}
} // namespace system
} // namespace tn

#endif
