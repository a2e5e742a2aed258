// tarvel-samba-demo EXPORT SCHOOL RESET: the demo school's LDIF export in AD's form for ./run --ad
// (the domain's LDIF and the members' reset, as the tests load them); prints the admin's DN.
#include "samba_fixture.h"

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fputs("Aufruf: tarvel-samba-demo EXPORT.ldif SCHULE.ldif RESET.ldif\n", stderr);
        return 2;
    }
    const adtest::AdSchool school = adtest::adSchoolOf(testsupport::readFile(argv[1]));
    testsupport::writeFile(argv[2], school.ldif);
    testsupport::writeFile(argv[3], school.resetLdif);
    auto admin = school.dns.find("admin.unterricht");
    if (admin == school.dns.end()) return 1;
    std::printf("%s\n", admin->second.c_str());
    return 0;
}
