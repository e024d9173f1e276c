// The log listing of a decoded SDP service record: names, handle, service
// classes, protocol descriptors with their parameters, language base entries
// and profile descriptors, one log line each.
//
// libbluetooth exports a routine named sdp_record_print too; it prints to
// stdout in another form. Ours lives in namespace vgps and must be called
// qualified (vgps::sdp_record_print): an unqualified call on an sdp_record_t
// also finds the library's through argument-dependent lookup.
#pragma once

#include <bluetooth/bluetooth.h>
#include <bluetooth/sdp.h>
#include <bluetooth/sdp_lib.h>

#include <cstddef>

namespace vgps {

// Buffer sizes that cut the texts of the listing: a name longer than its
// buffer minus one byte is listed cut to fit.
inline constexpr size_t kUuidStrSize = 37;     // text form of any UUID
inline constexpr size_t kClassNameSize = 28;   // service class or profile name
inline constexpr size_t kProtoNameSize = 8;    // protocol name

// The UUID text of the latest line; shared by every routine below, each use
// overwrites it.
extern char UUID_str[kUuidStrSize];

// Lists one record. Leaves the record as it was; does not free it.
void print_service_attr(sdp_record_t* rec);

// The service name, description and provider lines (attributes 0x0100,
// 0x0101, 0x0102), each only when present as a text string.
void sdp_record_print(const sdp_record_t* rec);

// Callbacks for sdp_list_foreach (element, user data); the user data is not
// read.
void print_service_class(void* uuid, void* user_data);     // uuid_t*
void print_access_protos(void* protos, void* user_data);   // sdp_list_t* of sdp_data_t*
void print_service_desc(void* first, void* user_data);     // sdp_data_t*
void print_lang_attr(void* lang, void* user_data);         // sdp_lang_attr_t*
void print_profile_desc(void* desc, void* user_data);      // sdp_profile_desc_t*

}  // namespace vgps
