# Run by the root manager's installer after it unpacked the module.
[ "$ARCH" = "arm64" ] || abort "! vmkd and calmd are built for 64-bit Arm only"
# The installer gives every file 0644 first; the programs and the scripts run by path need 0755.
set_perm_recursive "$MODPATH/bin" 0 0 0755 0755
set_perm "$MODPATH/control.sh" 0 0 0755
set_perm "$MODPATH/action.sh" 0 0 0755
ui_print "- Parameter files: /data/media/0/vmk_params (created at first start)"
ui_print "- Kernel log: dmesg | grep -e vmkd -e calm"
