# The Debian package: "cpack -G DEB" in a build configured with -DCMAKE_INSTALL_PREFIX=/usr (the
# paths written into the launcher, the units and the Squid configuration come from the prefix).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tarvel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_PACKAGE_CONTACT ${TARVEL_PACKAGE_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "switches school users' Internet access through a directory group")
# The extended description; CPack puts the summary in front as the synopsis.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Tarvelweb puts users into one deny group of an NDS-style directory
(eDirectory, OpenLDAP or its own embedded SQLite tree) and takes them out
again; the school's proxy refuses every member. A Qt window for teachers,
tarvel-ctl for scripts and timed stops, tarvel-tree for the embedded tree
and, where built, tarvel-proxy-helper, with which Squid asks the directory
at every request.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
if(TARVEL_HOMEPAGE)
  set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${TARVEL_HOMEPAGE})
endif()
# The libraries come from dpkg-shlibdeps; adduser for the maintainer scripts; the libraries the
# programs open only when needed (libldap, libcurl) are not linked, so they are named here.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
get_property(opened GLOBAL PROPERTY TARVEL_OPENED_PACKAGES)
list(PREPEND opened adduser)
list(JOIN opened ", " CPACK_DEBIAN_PACKAGE_DEPENDS)
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "squid, slapd")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${PROJECT_SOURCE_DIR}/packaging/debian/postinst ${PROJECT_SOURCE_DIR}/packaging/debian/postrm)
# Files under /etc are the administrator's once installed: dpkg keeps their edits on upgrades.
if(TARVEL_CONFFILES)
  list(JOIN TARVEL_CONFFILES "\n" conffiles)
  file(WRITE ${CMAKE_BINARY_DIR}/debian/conffiles "${conffiles}\n")
  list(APPEND CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_BINARY_DIR}/debian/conffiles)
endif()
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
