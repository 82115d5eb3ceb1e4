// The program's version text, the same for both programs, the About box, the export report and
// the package: the project's version, with the commit appended on a build between releases.
#pragma once

namespace version {

// "0.1.0" on a release, "0.1.0~git187.g89d6955" or "0.1.0+git12.g89d6955" between releases.
const char* text();

} // namespace version
