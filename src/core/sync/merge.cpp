#include <core/sync/merge.h>

namespace carddav {

MergeResult
mergeThreeWay(const ContactValues &base, const ContactValues &local, const ContactValues &server)
{
    MergeResult result;
    result.merged = local;
    for (int i = 0; i < contactFieldCount; ++i) {
        if (fieldAt(i) == ContactField::ContactId || local[i] == server[i] || server[i] == base[i])
            continue;
        if (local[i] == base[i])
            result.merged[i] = server[i];
        else
            result.conflicts.append({fieldAt(i), local[i], server[i]});
    }
    return result;
}

} // namespace carddav
