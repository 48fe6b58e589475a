# A chip image whose code after main is MIPS16e, for the emulator's reading
# of that instruction set: mode 0 lowers $sp by every form of SAVE and ADJSP
# (2,320 bytes in all) and prints through the host table, mode 1 reads an SFR.
        .text
        .set    noreorder
        .set    nomips16
main:                                   # as the module's: over to MIPS16e with bit 0 set
        move    $t0, $ra
        bal     1f
        nop
1:      addiu   $t1, $ra, entry - 1b    # the assembler gives a MIPS16e label bit 0
        jr      $t1
        move    $ra, $t0

        .set    mips16
        .align  2
entry:
        lw      $v1, 0($a0)
        bnez    $v1, sfr_read
        save    8, $ra                  # short SAVE
        save    128                     # short SAVE, frame field 0
        addiu   $sp, 8                  # short ADJSP, raising $sp
        save    136                     # extended SAVE
        addiu   $sp, -1032              # extended ADJSP
        addiu   $sp, -1024              # short ADJSP, its lowest
        li      $v0, 0x9D00             # the host table's host_print entry
        sll     $v0, $v0, 16
        lw      $v0, 0xBC($v0)
        la      $a0, message
        jalrc   $v0
        addiu   $sp, 2056
        restore 136
        addiu   $sp, -8
        restore 128
        restore 8, $ra
        jrc     $ra
sfr_read:
        li      $v0, 0xBF80
        sll     $v0, $v0, 16
        lw      $v0, 0x5A10($v0)        # SPI2STAT
        jrc     $ra
        .align  2
message:
        .asciz  "MIPS16e\r\n"
