# The fixed facts of this update, written once. The build reads this file
# (cmake/ProductFacts.cmake checks it) and generates from it what each side
# reads, into the build folder's generated/:
#   update/product_facts.h   for C++ (update/product.h gives the values names)
#   product_facts.sh         for the shell scripts (bash arrays)
#   product_facts.json       for the Python scripts
# and the build itself uses these variables. Tests state the values again on
# their own, so that a wrong edit here is caught.

# The product and its key under HKEY_LOCAL_MACHINE, where BootDirectory is
# read and Version written.
set(MORIVANE_PRODUCT_NAME "Morivane")
set(MORIVANE_REGISTRY_KEY_PREFIX [[SOFTWARE\KESTRON\]])

# The executable's FileVersion text before the update and after it.
set(MORIVANE_UPDATABLE_VERSION "1, 0, 0, 1")
set(MORIVANE_UPDATED_VERSION "1, 0, 0, 2")

# Last-access and last-modification time of every replaced file, in seconds
# since 1970-01-01 00:00:00 UTC: 1998-10-15 15:00:00 UTC.
set(MORIVANE_UPDATE_TIMESTAMP 908463600)

# The five files, in the order of the run, each named by the id of its
# payload (resource type "SABUNN") and given relative to the installation
# directory with "/" between folders. The first is the executable that
# BootDirectory names; the run finds the data files by cutting 12 bytes, the
# executable's name, off its path.
set(MORIVANE_UPDATE_IDS 130 137 138 139 140)
set(MORIVANE_UPDATE_FILE_130 "Morivane.exe")
set(MORIVANE_UPDATE_FILE_137 "dat/Iobjectc.til")
set(MORIVANE_UPDATE_FILE_138 "dat/Iobjecto.til")
set(MORIVANE_UPDATE_FILE_139 "dat/Iobjecte.til")
set(MORIVANE_UPDATE_FILE_140 "dat/Iobjecth.til")

# The shape the product's payloads ship in: scripts in units of 32 bytes,
# these stored plain (the script itself), the others packed (LZSS inside an
# HF container).
set(MORIVANE_SHIPPED_UNIT 32)
set(MORIVANE_SHIPPED_PLAIN_IDS 138 139)
