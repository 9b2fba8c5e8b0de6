// EAMUtil2DB.h: the NE configuration service as the fault-management library
// sees it: for each NE (by FDN) the name of its time zone in the system zone
// database and, where the configuration gives them, its standard and DST
// offsets.
//
// The real service belongs to another process; here it is an in-process
// registry that the host process (or a test) fills with the setters. Entries
// are copied in and out; the registry owns its data.
//
// Thread safety: every operation may be called from any thread at any time;
// readers share a lock, setters take it exclusively.
#ifndef FM_PLATFORM_EAMUTIL2DB_H
#define FM_PLATFORM_EAMUTIL2DB_H

#include <cstddef>
#include <string>

namespace Kyrofm {

// Result codes of the NE configuration service (0 is success).
constexpr int EAM_OK = 0;
constexpr int EAM_ERR_NO_NE = 1;       // the NE is not configured
constexpr int EAM_ERR_NO_ZONE = 2;     // the NE is configured without a zone name
constexpr int EAM_ERR_INVALID_ARG = 3; // empty FDN

// Zone information of one NE.
struct NEZoneInfo_t {
  std::string strZoneName;   // zone of the system zone database, may be empty
  long lTimeZone = 0;        // configured standard offset, seconds east of UTC
  long lDstOffset = 0;       // configured DST amount, seconds
};

class EAMUtil2DB {
 public:
  // The zone name of the NE `neFdn`: EAM_OK and the name, EAM_ERR_NO_NE for an
  // unknown NE, EAM_ERR_NO_ZONE for an NE without a zone name (zone emptied).
  static int GetZoneInfoByNe(const std::string& neFdn, std::string& zone);

  // The whole entry of the NE: EAM_OK, or EAM_ERR_NO_NE with `info` reset.
  static int GetNEZoneInfo(const std::string& neFdn, NEZoneInfo_t& info);

  // Adds or replaces the entry of the NE; EAM_ERR_INVALID_ARG for an empty FDN.
  static int SetNEZoneInfo(const std::string& neFdn, const NEZoneInfo_t& info);
  // Adds or replaces the NE with only a zone name (offsets 0).
  static int SetZoneInfoByNe(const std::string& neFdn, const std::string& zone);

  // Removes the NE; EAM_ERR_NO_NE when it was not configured.
  static int RemoveNE(const std::string& neFdn);
  // Removes every NE.
  static void Clear();
  static std::size_t Count();
};

}  // namespace Kyrofm

#endif
