# Install rules and the two Debian packages (cpack -G DEB, see scripts/package.sh):
#   erp-shell      the shell, its framework libraries and the screen modules, under
#                  /usr/lib/erp-shell/{bin,lib} (the shell finds its modules in ../lib), a
#                  launcher in /usr/bin, the .desktop entry and the icon;
#   rec-appserver  the server in /usr/bin, its library in /usr/lib/rec-appserver, a systemd unit
#                  running it as its own user, and its configuration in /etc/rec-appserver.

include(GNUInstallDirs)

# "cmake --install" and cpack install what is built; scripts/package.sh builds only these.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY TRUE)

set(_shell_dir lib/erp-shell)
set(_server_lib lib/rec-appserver)
set(_modules PKG_REC00800 PKG_CTB10200 PKG_CTB10300)

set_target_properties(erp-shell PROPERTIES INSTALL_RPATH "$ORIGIN/../lib")
set_target_properties(erpwire erpfw erpfwui erp-shell-script ${_modules} PROPERTIES INSTALL_RPATH "$ORIGIN")
set_target_properties(rec-appserver PROPERTIES INSTALL_RPATH "$ORIGIN/../${_server_lib}")

install(TARGETS erp-shell RUNTIME DESTINATION ${_shell_dir}/bin COMPONENT shell)
install(TARGETS erpwire erpfw erpfwui LIBRARY DESTINATION ${_shell_dir}/lib COMPONENT shell NAMELINK_SKIP)
install(TARGETS erp-shell-script ${_modules} LIBRARY DESTINATION ${_shell_dir}/lib COMPONENT shell)
# /usr/bin/erp-shell is a link; the shell resolves it to find ../lib.
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/packaging)
file(CREATE_LINK ../${_shell_dir}/bin/erp-shell ${CMAKE_BINARY_DIR}/packaging/erp-shell SYMBOLIC)
install(FILES ${CMAKE_BINARY_DIR}/packaging/erp-shell DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT shell)
install(FILES packaging/erp-shell.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT shell)
install(FILES src/libs/erpfwui/icons/erp-shell.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps COMPONENT shell)
install(FILES src/libs/erpfwui/icons/COPYRIGHT RENAME copyright-icons
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/erp-shell COMPONENT shell)

install(TARGETS rec-appserver RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT server)
install(TARGETS erpwire LIBRARY DESTINATION ${_server_lib} COMPONENT server NAMELINK_SKIP)
install(FILES packaging/rec-appserver/rec-appserver.service DESTINATION /lib/systemd/system COMPONENT server)
install(FILES packaging/rec-appserver/rec-appserver.conf DESTINATION /etc/rec-appserver COMPONENT server)
install(FILES src/server/README.md DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/rec-appserver COMPONENT server)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME erp)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Equipe do ERP <erp@localhost>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES TRUE)
set(CPACK_COMPONENTS_ALL shell server)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR}/lib)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS OFF)

set(CPACK_DEBIAN_SHELL_PACKAGE_NAME erp-shell)
set(CPACK_COMPONENT_SHELL_DESCRIPTION "ERP desktop shell with the REC00800 and CTB10200 screens
 The shell opens the screen modules (recalculation of the accounting of accounts receivable and
 its filter, the accounting entries viewer); without a server it runs one in-process on a demo
 database.")
# Loaded at run time, so not found by shlibdeps: the database drivers, the SVG icon engine and
# the toolkit's Portuguese texts.
set(CPACK_DEBIAN_SHELL_PACKAGE_DEPENDS "libqt6sql6-sqlite, libqt6sql6-psql, libqt6svg6, qt6-translations-l10n")
set(CPACK_DEBIAN_SHELL_PACKAGE_SECTION misc)

set(CPACK_DEBIAN_SERVER_PACKAGE_NAME rec-appserver)
set(CPACK_COMPONENT_SERVER_DESCRIPTION "ERP application server (JSON-RPC over HTTP)
 Serves the REC00800 screens' calls on SQLite or PostgreSQL, as a systemd service running as its
 own user; its configuration is /etc/rec-appserver/rec-appserver.conf.")
set(CPACK_DEBIAN_SERVER_PACKAGE_DEPENDS "adduser")
set(CPACK_DEBIAN_SERVER_PACKAGE_CONTROL_EXTRA
    ${CMAKE_CURRENT_SOURCE_DIR}/packaging/rec-appserver/postinst
    ${CMAKE_CURRENT_SOURCE_DIR}/packaging/rec-appserver/prerm
    ${CMAKE_CURRENT_SOURCE_DIR}/packaging/rec-appserver/postrm
    ${CMAKE_CURRENT_SOURCE_DIR}/packaging/rec-appserver/conffiles)
set(CPACK_DEBIAN_SERVER_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)

include(CPack)
