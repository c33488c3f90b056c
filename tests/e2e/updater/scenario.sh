# Sourced first by the updater's scenario scripts (scripts/e2e-run
# --scenario, after setup.sh), with `here` set to this folder: the shell
# helpers, the driver run (e2e_drive) and the installation's paths (dir, at).
. "$here/lib.sh"
. "$here/../harness.sh"
. "$E2E_OUT/install.env"
: "${E2E_DEMO:?E2E_DEMO must name the demo product folder}"
