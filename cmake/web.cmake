# The page of `tavio32 serve`: web/ and uPlot (from the npm registry through
# `npm ci` against web/package-lock.json, in the build tree), embedded into
# the program as web_assets.cpp. -DTAVIO32_UPLOT_DIR=DIR takes uPlot's dist/
# directory from DIR instead (a build without the registry).
set(TAVIO32_UPLOT_DIR "" CACHE PATH "uPlot's dist/ directory (default: npm ci in the build tree)")
set(web_src ${PROJECT_SOURCE_DIR}/web)
set(web_bin ${PROJECT_BINARY_DIR}/web)
file(MAKE_DIRECTORY ${web_bin})
if(TAVIO32_UPLOT_DIR)
  set(uplot_dist ${TAVIO32_UPLOT_DIR})
  set(uplot_stamp)
else()
  find_program(TAVIO32_NPM npm)
  if(NOT TAVIO32_NPM)
    message(FATAL_ERROR "tavio32 serve needs npm to fetch uPlot (Debian: apt install npm), "
      "or -DTAVIO32_UPLOT_DIR=DIR with uPlot's dist/ directory")
  endif()
  set(uplot_dist ${web_bin}/node_modules/uplot/dist)
  set(uplot_stamp ${web_bin}/npm-ci.stamp)
  add_custom_command(OUTPUT ${uplot_stamp} ${uplot_dist}/uPlot.iife.min.js ${uplot_dist}/uPlot.min.css
    ${web_bin}/node_modules/qrcode-generator/dist/qrcode.js
    COMMAND ${CMAKE_COMMAND} -E copy ${web_src}/package.json ${web_src}/package-lock.json ${web_bin}
    COMMAND ${TAVIO32_NPM} ci --ignore-scripts --no-audit --no-fund --loglevel=error
    COMMAND ${CMAKE_COMMAND} -E touch ${uplot_stamp}
    WORKING_DIRECTORY ${web_bin}
    DEPENDS ${web_src}/package.json ${web_src}/package-lock.json
    COMMENT "npm ci: uPlot for the page")
endif()
# url kind file, one a line (kinds: html js css).
set(web_list ${web_bin}/assets.list)
file(WRITE ${web_list} "/index.html html ${web_src}/index.html
/app.js js ${web_src}/app.js
/style.css css ${web_src}/style.css
/uPlot.min.js js ${uplot_dist}/uPlot.iife.min.js
/uPlot.min.css css ${uplot_dist}/uPlot.min.css
/qrcode.js js ${web_bin}/node_modules/qrcode-generator/dist/qrcode.js
")
set(web_files ${web_src}/index.html ${web_src}/app.js ${web_src}/style.css
  ${uplot_dist}/uPlot.iife.min.js ${uplot_dist}/uPlot.min.css
  ${web_bin}/node_modules/qrcode-generator/dist/qrcode.js)
add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/web_assets.cpp
  COMMAND ${CMAKE_COMMAND} -DOUT=${PROJECT_BINARY_DIR}/web_assets.cpp -DLIST=${web_list}
    -P ${PROJECT_SOURCE_DIR}/cmake/embed.cmake
  DEPENDS ${web_files} ${uplot_stamp} ${web_list} ${PROJECT_SOURCE_DIR}/cmake/embed.cmake
  COMMENT "Embedding the page")
