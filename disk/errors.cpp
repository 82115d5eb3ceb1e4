#include <cstdio>
#include <iterator>

#include "disk/disk.h"

namespace {

struct ErrorText {
    int32_t code;
    const char* text;
};

constexpr ErrorText kErrors[] = {
    {-1, "No Buffer Memory Error"},
    {-2, "No Space Error"},
    {-3, "There is another Writer"},
    {-4, "DVR File System Internal Error"},
    {-5, "No Permission Error"},
    {-6, "No Index Error"},
    {-7, "Bad Descriptor Error"},
    {-8, "Call Would Block"},
    {-9, "DVRFS Need Recycle"},
    {-10, "Invalid Parameter Error"},
    {-11, "DVR is In use"},
    {-12, "No DVR File System"},
    {-13, "File System Broken"},
    {-14, "No Hard Disk"},
    {-15, "DVR File System need FSCK"},
    {-16, "DVR_FS Already Locked"},
    {-17, "DVRFS Met Disk Error"},
    {-18, "No DVR FS driver found"},
    {-19, "DVRFS Disk mounted"},
    {-20, "DVRFS Layout Version mismatch"},
    {-21, "Function not supported"},
    {-22, "Backup Disk/Session is not Mounted"},
    {-50, "Free Block Map Error"},
    {-51, "Check Sum Error"},
    {-52, "Data offset Error"},
    {-53, "Channel Number mismatch"},
    {-54, "CD-Write file open error"},
    {-55, "No CD-Media"},
    {-56, "not proper CD-Media"},
    {-57, "CD record failed"},
    {-58, "No Backup Data"},
    {-59, "No such channel found"},
};

constexpr const char* kFsTypeNames[] = {"NONE", "OTHER", "MS",       "LINUX",    "DVR20",
                                        "DVR30", "PSOS", "BACKUP10", "BACKUP20", "WHOLE"};

}  // namespace

const char* dvrfs_strerror(int32_t code) {
    for (const ErrorText& e : kErrors) {
        if (e.code == code) return e.text;
    }
    static char unknown[64];
    std::snprintf(unknown, sizeof unknown, "Unknown Error -> Register it !!! (%d)", code);
    return unknown;
}

const char* fs_type_name(uint32_t code) {
    if (code < std::size(kFsTypeNames)) return kFsTypeNames[code];
    return "WHAT?";
}
