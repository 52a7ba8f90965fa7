# The Debian packages, one for each install component (packaging/CMakeLists.txt says which
# component each file belongs to).
set(tgen_package_components runtime dev genkey designer python)
set(tgen_package_runtime libtgenerator0)
set(tgen_package_dev libtgenerator-dev)
set(tgen_package_genkey genkey)
set(tgen_package_designer tgenerator-designer)
set(tgen_package_python python3-tgenerator)
