# `cmake --install` and CPack: two Debian packages, efetivos-server (the
# application server, its systemd unit and the balancer's example) and
# efetivos (the desktop with the package Pkg_Pla01000).
#
#   cmake --build build --target package     -> build/efetivos-server_*.deb, build/efetivos_*.deb

include(GNUInstallDirs)

set(EFET_DESKTOP_DIR ${CMAKE_INSTALL_LIBDIR}/efetivos)

if(TARGET efetivos-server)
  install(TARGETS efetivos-server RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT server)
  install(FILES deploy/efetivos-server.service DESTINATION lib/systemd/system COMPONENT server)
  install(FILES deploy/efetivos-server.default DESTINATION /etc/default RENAME efetivos-server COMPONENT server)
  install(FILES deploy/haproxy.cfg docs/deploy.md DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/efetivos-server
          COMPONENT server)
endif()

if(TARGET efetivos AND TARGET Pkg_Pla01000)
  # The desktop, the package and the platform library side by side: the
  # desktop looks for the package in its own folder.
  set_target_properties(efetivos Pkg_Pla01000 efet_platform PROPERTIES INSTALL_RPATH "$ORIGIN")
  install(TARGETS efetivos RUNTIME DESTINATION ${EFET_DESKTOP_DIR} COMPONENT desktop)
  install(TARGETS Pkg_Pla01000 efet_platform LIBRARY DESTINATION ${EFET_DESKTOP_DIR} COMPONENT desktop)
  install(DIRECTORY reports/ DESTINATION ${EFET_DESKTOP_DIR}/reports COMPONENT desktop)
  install(CODE "file(MAKE_DIRECTORY \$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR})
    file(CREATE_LINK ../${EFET_DESKTOP_DIR}/efetivos
      \$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/efetivos SYMBOLIC)" COMPONENT desktop)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME efetivos)
set(CPACK_PACKAGE_VENDOR "Efetivos")
set(CPACK_PACKAGE_CONTACT "Equipe de TI <ti@localhost>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Efetivos diários das filiais")
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL server desktop)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
# The build keeps its debug information (RelWithDebInfo); the packages do not.
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_SERVER_PACKAGE_NAME efetivos-server)
set(CPACK_DEBIAN_SERVER_DESCRIPTION "Servidor de aplicação dos efetivos diários (efetivos-server)")
# postinst creates the service's system user with adduser.
set(CPACK_DEBIAN_SERVER_PACKAGE_DEPENDS "adduser")
set(CPACK_DEBIAN_SERVER_PACKAGE_SUGGESTS "postgresql, haproxy")
set(CPACK_DEBIAN_SERVER_PACKAGE_CONTROL_EXTRA
    ${CMAKE_CURRENT_SOURCE_DIR}/deploy/debian/postinst ${CMAKE_CURRENT_SOURCE_DIR}/deploy/debian/conffiles)
set(CPACK_DEBIAN_DESKTOP_PACKAGE_NAME efetivos)
set(CPACK_DEBIAN_DESKTOP_DESCRIPTION "Efetivos diários: o desktop e o pacote Pkg_Pla01000")
set(CPACK_DEBIAN_DESKTOP_PACKAGE_RECOMMENDS "efetivos-server, qt6-translations-l10n, fonts-dejavu-core")
include(CPack)
