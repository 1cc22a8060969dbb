// The access a controlling application holds on a GigE Vision device.
#ifndef TN_ACCESS_TYPE_H
#define TN_ACCESS_TYPE_H

/// Access to a GigE Vision device.
///
/// - ``TnAccessOpen``: no privilege; the device answers reads, and writes as
///   far as it lets applications without privilege write.
/// - ``TnAccessControl``: control privilege; other applications may still
///   read.
/// - ``TnAccessExclusive``: exclusive privilege; other applications can
///   neither read nor write.
/// - ``TnAccessReadOnly``: no privilege, and the controller itself refuses
///   every write.
typedef enum
{
    TnAccessUnknown = 0,
    TnAccessOpen = 1,
    TnAccessControl = 2,
    TnAccessExclusive = 3,
    TnAccessReadOnly = 4
} TnAccessType;

#endif
