# What an installation holds: the programs and the launcher, a man page for each, the directory
# schema, the systemd units, the Squid configurations and the documentation. Tests, benchmarks and
# the static layer libraries stay in the build folder.

install(TARGETS tarvel-ctl tarvel-tree RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TARGET tarvel-proxy-helper)
  install(TARGETS tarvel-proxy-helper RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

# The school's service: the program on the PATH, the session worker beside the window's program
# (nobody starts it by hand). tarvel-web finds it through TARVEL_INSTALLED_WORKER.
set(TARVEL_INSTALLED_WORKER ${CMAKE_INSTALL_FULL_LIBEXECDIR}/tarvel/tarvel-web-worker)
if(TARGET tarvel-web)
  install(TARGETS tarvel-web RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  target_compile_definitions(tarvel-web PRIVATE TARVEL_INSTALLED_WORKER="${TARVEL_INSTALLED_WORKER}")
endif()
if(TARGET tarvel-web-worker)
  install(TARGETS tarvel-web-worker RUNTIME DESTINATION ${CMAKE_INSTALL_LIBEXECDIR}/tarvel)
endif()

if(TARGET tarvel)
  # The window's own folder is not writable once installed: the "tarvel" on the PATH is the
  # launcher, which finds the settings files and names them on the window's command line.
  install(TARGETS tarvel RUNTIME DESTINATION ${CMAKE_INSTALL_LIBEXECDIR}/tarvel)
  set(TARVEL_INSTALLED_PROGRAM ${CMAKE_INSTALL_FULL_LIBEXECDIR}/tarvel/tarvel)
  configure_file(packaging/tarvel-launch.in ${CMAKE_BINARY_DIR}/tarvel-launch @ONLY)
  install(PROGRAMS ${CMAKE_BINARY_DIR}/tarvel-launch DESTINATION ${CMAKE_INSTALL_BINDIR} RENAME tarvel)
  install(FILES packaging/tarvelweb.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES resources/pictures/symbol-user.xpm DESTINATION ${CMAKE_INSTALL_DATADIR}/pixmaps
          RENAME tarvelweb.xpm)
endif()

# Man pages and the changelog go in gzipped, without name or time stamp in the header (-n), so
# that the same sources give the same package.
file(GLOB TARVEL_MAN_PAGES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/packaging/*.1)
if(NOT TARGET tarvel-web)
  list(FILTER TARVEL_MAN_PAGES EXCLUDE REGEX "/tarvel-web\\.1$")
endif()
string(TIMESTAMP TARVEL_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
set(TARVEL_PACKAGE_MAINTAINER "Tarvelweb maintainers <maintainers@users.noreply.c-seed-7ad60284.example>"
    CACHE STRING "Maintainer named in the package and its changelog")
configure_file(packaging/changelog.in ${CMAKE_BINARY_DIR}/doc/changelog @ONLY)
set(compressed)
foreach(source ${TARVEL_MAN_PAGES} ${CMAKE_BINARY_DIR}/doc/changelog)
  get_filename_component(name ${source} NAME)
  set(gz ${CMAKE_BINARY_DIR}/doc/${name}.gz)
  add_custom_command(OUTPUT ${gz} COMMAND sh -c "gzip -9nc \"$1\" > \"$2\"" sh ${source} ${gz}
                     DEPENDS ${source} VERBATIM)
  list(APPEND compressed ${gz})
endforeach()
add_custom_target(tarvel_docs ALL DEPENDS ${compressed})
list(FILTER compressed INCLUDE REGEX "\\.1\\.gz$")
install(FILES ${compressed} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES README.md packaging/copyright ${CMAKE_BINARY_DIR}/doc/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DOCDIR})

install(DIRECTORY schema/ DESTINATION ${CMAKE_INSTALL_DATADIR}/tarvel/schema)

# The timer's units where systemd finds them (relative to the prefix: /usr/lib/systemd/system,
# /usr/local/lib/systemd/system); "systemctl enable --now tarvel-ctl-due.timer" starts them.
set(TARVEL_SYSTEMD_UNIT_DIR "lib/systemd/system" CACHE PATH "systemd unit folder, relative to the prefix")
configure_file(packaging/systemd/tarvel-ctl-due.service.in ${CMAKE_BINARY_DIR}/tarvel-ctl-due.service @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/tarvel-ctl-due.service packaging/systemd/tarvel-ctl-due.timer
        DESTINATION ${TARVEL_SYSTEMD_UNIT_DIR})
# The service's unit ("systemctl enable --now tarvel-web.service"), its account (sysusers.d) and
# its state folder (tmpfiles.d, 0750), and the example of its settings.
if(TARGET tarvel-web)
  configure_file(packaging/systemd/tarvel-web.service.in ${CMAKE_BINARY_DIR}/tarvel-web.service @ONLY)
  install(FILES ${CMAKE_BINARY_DIR}/tarvel-web.service DESTINATION ${TARVEL_SYSTEMD_UNIT_DIR})
  install(FILES packaging/tarvel-web.conf DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)
endif()
install(FILES packaging/systemd/tarvel.sysusers DESTINATION lib/sysusers.d RENAME tarvel.conf)
install(FILES packaging/systemd/tarvel.tmpfiles DESTINATION lib/tmpfiles.d RENAME tarvel.conf)

# Every Squid configuration as an example; the helper's one, with the helper's installed path,
# where Debian's squid.conf includes it (before its own http_access rules).
install(DIRECTORY packaging/squid/ DESTINATION ${CMAKE_INSTALL_DOCDIR}/squid)
if(EXISTS ${PROJECT_SOURCE_DIR}/packaging/squid/tarvel.conf)
  set(TARVEL_PROXY_HELPER ${CMAKE_INSTALL_FULL_BINDIR}/tarvel-proxy-helper)
  configure_file(packaging/squid/tarvel.conf ${CMAKE_BINARY_DIR}/squid/tarvel.conf @ONLY)
  set(TARVEL_SQUID_CONF_DIR ${CMAKE_INSTALL_FULL_SYSCONFDIR}/squid/conf.d)
  install(FILES ${CMAKE_BINARY_DIR}/squid/tarvel.conf DESTINATION ${TARVEL_SQUID_CONF_DIR})
  list(APPEND TARVEL_CONFFILES ${TARVEL_SQUID_CONF_DIR}/tarvel.conf)
endif()
