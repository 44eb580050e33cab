#include "package/PackageDescription.h"

#include "package/DescriptorEntry.h"

namespace quillon {

void ReadImageDescription(CEncImageFile& image, VersionDescriptor& out) {
    out = VersionDescriptor{};
    RecordHeader header;
    for (int n = 0; n < image.GetRecordCount(); ++n) {
        image.ReadHeader(n, header);
        if (header.type != kModuleDescriptor) {
            continue;
        }
        bool versionTaken = false;
        for (const std::string& entry : image.ReadEntries(n)) {
            if (!versionTaken && HasTag(entry, kTagVersion)) {
                versionTaken = true;
                VersionDescriptor fresh;
                fresh.SetText(entry);
                out = std::move(fresh);
            }
            if (HasTag(entry, kTagProduct)) {
                out.product = TagValue(entry);
            }
            if (HasTag(entry, kTagBuildStamp)) {
                out.buildStamp = TagValue(entry);
            }
            if (HasTag(entry, kTagTime)) {
                out.timeStamp = ParseDecimal(TagValue(entry));
            }
        }
    }
}

void CollectImageTargetTypes(CEncImageFile& image, std::vector<std::string>& list) {
    list.clear();
    image.CollectTargetTypes(0, list);
}

} // namespace quillon
