// SvrTimeInfo.h: the server's time information as the time functions read it:
// its standard offset east of UTC and its configured daylight-saving offset,
// both in seconds. They are the system attributes' values (CSysAttr,
// GetSvrTimeZone and GetSvrDSTOffset).
//
// Threads: any thread may call these.
#ifndef FM_TIME_SVRTIMEINFO_H
#define FM_TIME_SVRTIMEINFO_H

namespace Kyrofm {

// The server's standard offset, seconds east of UTC.
long svrTimeZone();
// The server's configured DST offset in seconds (0 without daylight saving).
long svrDSTOffset();

}  // namespace Kyrofm

#endif
