#pragma once
// How the device's web CGI applies the cells of a posted form to its
// management objects: by OID, never by field name.
//
// Each form page owns one table (PrivateFolder the share folders,
// UserManagement the users, UserGroup the groups, QuotaManagement the quotas)
// or, for the disk set-up page step2, the three scalars FormatFS, DiskMode
// and InitDisk. A cell outside the page's table, in a column the table does
// not have, of the wrong type ('i' on a text column or 's' on a number), or
// in a row that neither exists nor was opened earlier in the same form
// refuses the whole form and nothing is written.
//
// Rows: the row-start cell (row-status column, value 5) opens a new row,
// which must not exist yet; its columns start empty (texts "", numbers 0)
// and the form's cells fill them; the row-end cell (value 1) activates it.
// Other cells edit existing rows. An index column must carry its own row's
// index. Names stay unique: a user, group or share name that another row
// already has is refused.
#include <string>
#include <vector>

#include "FormParser.h"
#include "MibStore.h"

namespace testbed {

// The disk set-up page.
inline constexpr char kStep2Page[] = "/configuration/SystemStatus/step2.shtml";

// A user's or group's row is about to go: the other side's lists forget it.
// Rows of other tables are left alone.
void DropMemberships(MibStore& store, const Oid& entry, const Oid& row);

bool ApplyFormCells(MibStore& store, const std::string& page, const std::vector<FormCell>& cells,
                    std::string* error = nullptr);

} // namespace testbed
