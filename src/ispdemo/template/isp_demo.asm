; The ISP demo: a 1,024-byte in-system-programming loader for the top kilobyte of the ISP area.
;
; The station copies these bytes unchanged to 3800h or F800h and patches the parameter bytes
; at fixed offsets (delay count, watchdog and RS-485 pins, parity, flash wait value, baud
; reload, erase count, model number, timing constant, crystal class). The code therefore:
;   - runs at any 2 KB-aligned base: only relative jumps, AJMP and ACALL inside the template,
;     and no absolute address of its own code (the build compares two links to prove it);
;   - keeps every patched instruction at its offset (AT checks each one; the build checks
;     their opcodes again after linking).
; The PC-side protocol is described in docs/isp_demo_protocol.md.
;
; Hexadecimal numbers are written 0x.. throughout: the assembler does not read the ..h form.

        .module isp_demo

; The assembler knows the standard 8051/8052 register and bit names (SCON, RCAP2H, RI, ...).
; The flash-control registers of the chip:
FDAT    = 0xE2          ; flash data
FADH    = 0xE3          ; flash address, high byte
FADL    = 0xE4          ; flash address, low byte
FCMD    = 0xE5          ; flash command
FTRG    = 0xE6          ; flash trigger: 0x5A then 0xA5 starts the command
FCON    = 0xE7          ; flash control: access enable and wait value

; Internal RAM.
FLAGS   = 0x20          ; loaded from offset 96; only bit 0 is used
NINE    = 0x00          ;   FLAGS.0: 9-bit frames, the ninth bit is even parity
RFLAGS  = 0x21
PERR    = 0x08          ;   RFLAGS.0: a byte of the current frame had bad parity
SECTORS = 0x22          ; 512-byte sectors that erase clears, from address 0
MODELH  = 0x23
MODELL  = 0x24
TCONST  = 0x25          ; passes of the ~1.1 ms wait that make the byte time-out (~21 ms)
XCLASS  = 0x26          ; crystal class: Delay passes after a sector erase
BASEH   = 0x27          ; high byte of our own base: nothing at or above it is written
CMD     = 0x28
LEN     = 0x29
CRCH    = 0x2A
CRCL    = 0x2B
RXCRCH  = 0x2C
RXCRCL  = 0x2D
STATUS  = 0x2E
FCONV   = 0x2F          ; the flash-control value, from offset 99
STACKTOP = 0x2F         ; the stack grows from 0x30
BUF     = 0x80          ; frame data, upper internal RAM: reached through @R0 only

; Protocol constants.
REQ     = 0xA5          ; first byte of a request
ANS     = 0x5A          ; first byte of an answer
MAXLEN  = 66            ; longest request or answer data: address and 64 bytes
BLOCK   = 64
VERSION = 0x10          ; demo version 1.0

C_IDENT = 0x01
C_ERASE = 0x02
C_PROG  = 0x03
C_READ  = 0x04
C_RUN   = 0x05

S_CHECK = 0x01          ; check value wrong
S_CMD   = 0x02          ; unknown command
S_LEN   = 0x03          ; length wrong for the command, or too long
S_RANGE = 0x04          ; address out of range
S_PROG  = 0x05          ; programmed byte reads back different
S_REG   = 0x06          ; a flash-control register did not take its value
S_BLANK = 0x07          ; sector not blank after erase
S_PAR   = 0x08          ; parity error
S_SHORT = 0x09          ; frame ended early (byte time-out)

F_READ  = 0x01          ; flash commands
F_PROG  = 0x02
F_ERASE = 0x03

; Stops the assembly unless the next instruction starts at the given template offset. There is
; no error directive: the unknown one below is what makes the assembler fail.
        .macro  AT offset
        .if     (. - Template) - offset
        .error  ; a patched instruction moved
        .endif
        .endm

        .area   ISPDEMO (CODE)

Template:
        clr     EA
        mov     SP,#STACKTOP
        sjmp    Init

; Sends A. In 9-bit mode the ninth bit makes the number of ones even.
SendByte:
        jnb     NINE,1$
        mov     c,P
        mov     TB8,c
1$:     mov     SBUF,a
2$:     jnb     TI,2$
        clr     TI
        ret

SendCrc:
        acall   CrcByte
        sjmp    SendByte

; CRC-16 (polynomial 0x1021, most significant bit first) of A into CRCH:CRCL; keeps A.
CrcByte:
        push    acc
        xrl     a,CRCH
        mov     CRCH,a
        mov     B,#8
1$:     clr     c
        mov     a,CRCL
        rlc     a
        mov     CRCL,a
        mov     a,CRCH
        rlc     a
        mov     CRCH,a
        jnc     2$
        xrl     CRCH,#0x10
        xrl     CRCL,#0x21
2$:     djnz    B,1$
        pop     acc
        ret

        .ds     63 - (. - Template)

; About 61 us at any crystal, then one watchdog feed.
        AT      63
Delay:  mov     r7,#0x1D                ; 64: delay count
1$:     djnz    r7,1$
        AT      67
Feed:   cpl     0x97                    ; 68: watchdog pin
        ret
        AT      70
RxDir:  clr     0xB5                    ; 71, 73: direction pin
        clr     0xB5
        setb    REN
        setb    ES
        ret
        AT      79
TxDir:  clr     ES
        setb    0xB5                    ; 82, 84: direction pin
        setb    0xB5
        acall   Delay                   ; let the transceiver settle
        mov     r6,#3
1$:     acall   Delay
        djnz    r6,1$
        AT      93
        ret

        AT      94
Init:   mov     FLAGS,#0xFF             ; 96: parity
        mov     FCONV,#0x81             ; 99: flash wait value
        mov     RCAP2H,#0xFF            ; 102: baud reload
        mov     RCAP2L,#0xF7            ; 105
        mov     SECTORS,#124            ; 108: erase count
        mov     MODELH,#0x40            ; 111: model number
        mov     MODELL,#0x05            ; 114
        mov     TCONST,#19              ; 117: timing constant
        mov     a,#3                    ; 119: crystal class
        AT      120
        mov     XCLASS,a
        ; Our own base from a return address (the template's first 256 bytes share its high
        ; byte). Erase stops below it whatever count was patched in.
        acall   1$
1$:     pop     DPH
        pop     DPL
        mov     BASEH,DPH
        mov     a,DPH
        clr     c
        rrc     a
        cjne    a,SECTORS,2$
2$:     jnc     3$
        mov     SECTORS,a
3$:     mov     TH2,RCAP2H
        mov     TL2,RCAP2L
        mov     T2CON,#0x34             ; Timer 2 clocks both directions of the UART
        mov     SCON,#0x50              ; 8-bit frames, receiver on
        jnb     NINE,4$
        mov     SCON,#0xD0              ; 9-bit frames
4$:     acall   RxDir

Main:   acall   RecvFrame
        mov     a,STATUS
        jnz     Answer                  ; a bad frame is answered, never executed
        mov     a,CMD
        cjne    a,#C_IDENT,1$
        sjmp    DoIdentify
1$:     cjne    a,#C_ERASE,2$
        ajmp    DoErase
2$:     cjne    a,#C_PROG,3$
        ajmp    DoProgram
3$:     cjne    a,#C_READ,4$
        ajmp    DoRead
4$:     cjne    a,#C_RUN,5$
        ajmp    DoRun
5$:     mov     STATUS,#S_CMD
AnswerEmpty:
        mov     LEN,#0
Answer: acall   SendAnswer
        sjmp    Main

BadLength:
        mov     STATUS,#S_LEN
        sjmp    AnswerEmpty

OutOfRange:
        mov     STATUS,#S_RANGE
        sjmp    AnswerEmpty

; Answers STATUS with the address in DPTR.
FailAt: mov     r0,#BUF
        mov     @r0,DPH
        inc     r0
        mov     @r0,DPL
        mov     LEN,#2
        sjmp    Answer

DoIdentify:
        mov     a,LEN
        jnz     BadLength
        mov     r0,#BUF
        mov     @r0,MODELH
        inc     r0
        mov     @r0,MODELL
        inc     r0
        mov     @r0,#VERSION
        inc     r0
        mov     @r0,SECTORS
        inc     r0
        mov     @r0,BASEH
        inc     r0
        mov     @r0,#BLOCK
        mov     LEN,#6
        sjmp    Answer

; Erases the sectors from address 0 up and checks that each reads blank.
DoErase:
        mov     a,LEN
        jnz     BadLength
        mov     DPL,#0
        mov     DPH,#0
        mov     a,SECTORS
        jz      4$
        mov     r2,a
1$:     mov     a,#0xFF
        mov     r3,#F_ERASE
        acall   FlashCmd
        jc      RegFault
        mov     r6,XCLASS
2$:     acall   Delay
        djnz    r6,2$
        mov     r5,#2
        mov     r4,#0
3$:     clr     a
        movc    a,@a+dptr
        cjne    a,#0xFF,NotBlank
        inc     dptr
        djnz    r4,3$
        djnz    r5,3$
        djnz    r2,1$
4$:     mov     r0,#BUF
        mov     @r0,SECTORS
        mov     LEN,#1
        sjmp    Answer

RegFault:
        mov     STATUS,#S_REG
        sjmp    FailAt
NotBlank:
        mov     STATUS,#S_BLANK
        sjmp    FailAt
ProgFault:
        mov     STATUS,#S_PROG
        sjmp    FailAt

; Address high, address low, 1 to 64 bytes; every byte is read back.
DoProgram:
        mov     a,LEN
        clr     c
        subb    a,#3
        jc      BadLength
        inc     a
        mov     r2,a
        mov     r0,#BUF
        mov     DPH,@r0
        inc     r0
        mov     DPL,@r0
        inc     r0
        acall   LastAddress
        jc      6$
        cjne    a,BASEH,1$
1$:     jnc     6$
        acall   Feed
2$:     mov     a,@r0
        mov     r3,#F_PROG
        acall   FlashCmd
        jc      RegFault
        clr     a
        movc    a,@a+dptr
        xrl     a,@r0
        jnz     ProgFault
        inc     r0
        inc     dptr
        djnz    r2,2$
        ajmp    AnswerEmpty
6$:     ajmp    OutOfRange

; Address high, address low, count 1 to 64; the answer holds the address and the bytes.
DoRead: mov     a,LEN
        cjne    a,#3,5$
        mov     r0,#BUF
        mov     DPH,@r0
        inc     r0
        mov     DPL,@r0
        inc     r0
        mov     a,@r0
        jz      5$
        mov     r2,a
        cjne    a,#BLOCK+1,1$
1$:     jnc     5$
        acall   LastAddress
        jc      6$
        mov     a,r2
        add     a,#2
        mov     LEN,a
        mov     r0,#BUF+2
2$:     clr     a
        movc    a,@a+dptr
        mov     @r0,a
        inc     r0
        inc     dptr
        djnz    r2,2$
        ajmp    Answer
5$:     ajmp    BadLength
6$:     ajmp    OutOfRange

; Answers, then hands the chip to the application at 0000h as a reset would leave it.
DoRun:  mov     a,LEN
        jnz     5$
        acall   SendAnswer
        clr     a
        mov     IE,a
        mov     SCON,a
        mov     T2CON,a
        mov     TH2,a
        mov     TL2,a
        mov     RCAP2H,a
        mov     RCAP2L,a
        mov     FCON,a
        mov     PSW,a
        mov     SP,#0x07
        ljmp    0x0000
5$:     ajmp    BadLength

; High byte of DPTR + R2 - 1 in A; C set when that passes FFFFh.
LastAddress:
        mov     a,r2
        dec     a
        add     a,DPL
        mov     a,DPH
        addc    a,#0
        ret

; Runs flash command R3 at DPTR with data A; C set when a register did not take its value.
FlashCmd:
        mov     FDAT,a
        mov     FCON,FCONV
        mov     FADH,DPH
        mov     FADL,DPL
        mov     FCMD,r3
        cjne    a,FDAT,1$
        mov     a,FCON
        cjne    a,FCONV,1$
        mov     a,FADH
        cjne    a,DPH,1$
        mov     a,FADL
        cjne    a,DPL,1$
        mov     a,FCMD
        xrl     a,r3
        jnz     1$
        mov     FTRG,#0x5A
        mov     FTRG,#0xA5
        mov     FCON,#0
        clr     c
        ret
1$:     mov     FCON,#0
        setb    c
        ret

; Receives one request into CMD, LEN, BUF. STATUS 0 when it is sound, else the fault.
RecvFrame:
        mov     STATUS,#0
1$:     acall   GetByte
        cjne    a,#REQ,1$
        clr     PERR
        mov     CMD,#0
        acall   GetByteTO
        jc      Short
        mov     CMD,a
        acall   GetByteTO
        jc      Short
        mov     LEN,a
        cjne    a,#MAXLEN+1,2$
2$:     jnc     TooLong
        mov     r0,#BUF
        mov     r2,a
        jz      4$
3$:     acall   GetByteTO
        jc      Short
        mov     @r0,a
        inc     r0
        djnz    r2,3$
4$:     acall   GetByteTO
        jc      Short
        mov     RXCRCH,a
        acall   GetByteTO
        jc      Short
        mov     RXCRCL,a
        jb      PERR,BadParity
        mov     CRCH,#0xFF
        mov     CRCL,#0xFF
        mov     a,CMD
        acall   CrcByte
        mov     a,LEN
        acall   CrcByte
        mov     r0,#BUF
        mov     r2,LEN
        mov     a,r2
        jz      6$
5$:     mov     a,@r0
        acall   CrcByte
        inc     r0
        djnz    r2,5$
6$:     mov     a,CRCH
        cjne    a,RXCRCH,BadCheck
        mov     a,CRCL
        cjne    a,RXCRCL,BadCheck
        ret
BadCheck:
        mov     STATUS,#S_CHECK
        sjmp    FrameFault
BadParity:
        mov     STATUS,#S_PAR
        sjmp    FrameFault
TooLong:                                ; the rest of it is swallowed until the line is quiet
        acall   GetByteTO
        jnc     TooLong
        mov     STATUS,#S_LEN
        sjmp    FrameFault
Short:  mov     STATUS,#S_SHORT
FrameFault:
        mov     LEN,#0
        ret

; Waits for a byte without a time-out, feeding the watchdog about every millisecond.
GetByte:
        mov     r4,#0
1$:     jb      RI,GotByte
        djnz    r4,1$
        acall   Feed
        sjmp    GetByte

; Waits for a byte at most TCONST times about a millisecond; C set on time-out.
GetByteTO:
        mov     r5,TCONST
        mov     r4,#0
1$:     jb      RI,GotByte
        djnz    r4,1$
        acall   Feed
        djnz    r5,1$
        setb    c
        ret

; The byte in A, C clear. In 9-bit mode a ninth bit that leaves an odd number of ones marks
; the frame with a parity error.
GotByte:
        clr     RI
        mov     a,SBUF
        jnb     NINE,1$
        mov     c,P
        jnb     RB8,2$
        cpl     c
2$:     jnc     1$
        setb    PERR
1$:     clr     c
        ret

; Answer frame: ANS, CMD, STATUS, LEN, BUF, CRC; the line is ours only while it is sent.
SendAnswer:
        acall   TxDir
        mov     a,#ANS
        acall   SendByte
        mov     CRCH,#0xFF
        mov     CRCL,#0xFF
        mov     a,CMD
        acall   SendCrc
        mov     a,STATUS
        acall   SendCrc
        mov     a,LEN
        acall   SendCrc
        mov     r0,#BUF
        mov     r2,LEN
        mov     a,r2
        jz      2$
1$:     mov     a,@r0
        acall   SendCrc
        inc     r0
        djnz    r2,1$
2$:     mov     a,CRCH
        acall   SendByte
        mov     a,CRCL
        acall   SendByte
        acall   StopBit
        ajmp    RxDir

; TI rises as the stop bit of the last byte begins: the line stays ours until it has left. A bit
; lasts 32 x N clocks, N = 65536 - RCAP2; each pass below takes 8 machine cycles (96 clocks),
; so N passes wait three bits at most.
StopBit:
        clr     c
        clr     a
        subb    a,RCAP2L
        mov     r6,a
        clr     a
        subb    a,RCAP2H
        mov     r7,a                    ; R7:R6 = N, 0:0 for 65536
1$:     mov     a,r6
        jnz     2$
        dec     r7
2$:     dec     r6
        mov     a,r6
        orl     a,r7
        jnz     1$
        ret

        .ds     1024 - (. - Template)
        AT      1024
