# Installation and packages, built by CPack from the build folder (cpack --config CPackConfig.cmake):
# on Windows a zip with the program, the sensor emulator and a short text on how to start them; on Linux a
# Debian package of the program and its tools, with a systemd unit that runs one program per sensor.
set(CPACK_PACKAGE_NAME CorvastrumGigeInterface)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Serves a Corvastrum 3D sensor as a GigE Vision camera")
set(CPACK_PACKAGE_CONTACT "CorvastrumGigeInterface maintainers <corvastrum-gige@localhost>")
set(CPACK_STRIP_FILES ON)

if(WIN32)
  # Everything in one folder: the program finds the sensor database beside itself.
  install(TARGETS CorvastrumGigeInterface corvastrum-sensor-emulator RUNTIME DESTINATION .)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/windows-readme.txt DESTINATION . RENAME README.txt)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME ${CPACK_PACKAGE_NAME}-${PROJECT_VERSION}-win64)
else()
  set(linux_programs CorvastrumGigeInterface corvastrum-sensor-emulator)
  foreach(tool corvastrum-capture corvastrum-action gev-demo-device)
    if(TARGET ${tool})
      list(APPEND linux_programs ${tool})
    endif()
  endforeach()
  install(TARGETS ${linux_programs} RUNTIME DESTINATION bin)
  # Running unattended: a systemd unit of which each sensor gets an instance, and a commented options file to
  # copy per instance. The unit names the program in /usr/bin, where the package puts it.
  install(FILES "${PROJECT_SOURCE_DIR}/packaging/corvastrum-gige-interface@.service" DESTINATION /lib/systemd/system)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/sensor.conf.example DESTINATION /etc/corvastrum-gige-interface)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
      ${PROJECT_SOURCE_DIR}/packaging/debian/conffiles ${PROJECT_SOURCE_DIR}/packaging/debian/postinst
      ${PROJECT_SOURCE_DIR}/packaging/debian/prerm ${PROJECT_SOURCE_DIR}/packaging/debian/postrm)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_PACKAGE_NAME corvastrum-gige-interface)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION science)
  # The library packages the programs link, found by dpkg-shlibdeps.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
endif()

include(CPack)
