# The session as a state machine over the byte pairs the spi decoder passes
# up: a command frame, its response, and for reads and writes the data block
# that follows, then idle bytes until the next frame.

import sigrokdecode as srd

from .fields import (START_TOKEN, R1_ILLEGAL, argument_text, command_name, crc7, crc16, data_response_text,
                     error_token_text, ocr_text, r1_text, r7_text)

# The card answers within 8 bytes (NCR); after that the command went unanswered.
MAX_NCR = 8
BLOCK = 512

(ANN_COMMAND, ANN_APP_COMMAND, ANN_R1, ANN_R3, ANN_R7, ANN_TOKEN, ANN_ERROR_TOKEN, ANN_BLOCK, ANN_CRC,
 ANN_DATA_RESPONSE, ANN_BUSY, ANN_IDLE, ANN_WARNING) = range(13)


class Decoder(srd.Decoder):
    api_version = 3
    id = 'sdcard_session'
    name = 'SD session'
    longname = 'SD/MMC card session in SPI mode'
    desc = 'Commands, responses, data blocks and busy time of an SD or MMC card on SPI.'
    license = 'unknown'
    inputs = ['spi']
    outputs = []
    tags = ['Memory']
    annotations = (
        ('command', 'Command'),
        ('app-command', 'Application command'),
        ('r1', 'R1'),
        ('r3', 'R3 (OCR)'),
        ('r7', 'R7'),
        ('token', 'Data token'),
        ('error-token', 'Error token'),
        ('block', 'Data block'),
        ('crc', 'Block CRC16'),
        ('data-response', 'Data response'),
        ('busy', 'Busy'),
        ('idle', 'Idle'),
        ('warning', 'Warning'),
    )
    annotation_rows = (
        ('commands', 'Commands', (ANN_COMMAND, ANN_APP_COMMAND)),
        ('responses', 'Responses', (ANN_R1, ANN_R3, ANN_R7, ANN_ERROR_TOKEN, ANN_DATA_RESPONSE, ANN_BUSY)),
        ('data', 'Data', (ANN_TOKEN, ANN_BLOCK, ANN_CRC)),
        ('idle', 'Idle', (ANN_IDLE,)),
        ('warnings', 'Warnings', (ANN_WARNING,)),
    )

    def __init__(self):
        self.reset()

    def reset(self):
        self.state = self.expect_command
        self.app_next = False        # the last command was an accepted CMD55
        self.crc_on = False          # CMD59 switched the card's CRC checking on
        self.block_addressed = None  # from the OCR's CCS bit, once CMD58 has told
        self.idle = None             # [start, end, count] of the idle bytes being gathered
        self.frame = []
        self.frame_ss = 0
        self.command = None          # (index, app, arg)
        self.waited = 0
        self.bytes = []
        self.bytes_ss = 0
        self.trailing = 0
        self.crc_ss = 0
        self.busy_ss = 0
        self.busy_es = 0

    def start(self):
        self.out_ann = self.register(srd.OUTPUT_ANN)

    def put_text(self, ss, es, ann, texts):
        self.put(ss, es, self.out_ann, [ann, texts])

    def warn(self, ss, es, text):
        self.put_text(ss, es, ANN_WARNING, ['Warning: ' + text, 'Warning'])

    def decode(self, ss, es, data):
        kind, first, second = data
        if kind == 'DATA':
            self.state(ss, es, first, second)
        elif kind == 'CS-CHANGE' and second == 1:
            self.deselected(ss)

    def deselected(self, at):
        self.flush_idle()
        if self.state in (self.read_block, self.write_block):
            self.warn(self.bytes_ss, at, 'Chip select raised inside a data block')
        elif self.state in (self.command_frame, self.response):
            self.warn(self.frame_ss, at, 'Chip select raised before the command was answered')
        elif self.state == self.busy:
            self.end_busy()
        # A card keeps the CMD55 it accepted across a deselect; everything else starts afresh.
        self.state = self.expect_command

    # --- between transactions

    def flush_idle(self):
        if self.idle:
            ss, es, count = self.idle
            self.put_text(ss, es, ANN_IDLE, ['Idle: %d byte%s' % (count, '' if count == 1 else 's'), 'Idle'])
            self.idle = None

    def expect_command(self, ss, es, mosi, miso):
        if mosi & 0xC0 == 0x40:
            self.flush_idle()
            self.frame = [mosi]
            self.frame_ss = ss
            self.state = self.command_frame
        elif mosi == 0xFF:
            if self.idle:
                self.idle[1] = es
                self.idle[2] += 1
            else:
                self.idle = [ss, es, 1]
        else:
            self.flush_idle()
            self.warn(ss, es, 'Stray byte 0x%02X from the host between commands' % mosi)

    # --- a command and its response

    def command_frame(self, ss, es, mosi, miso):
        self.frame.append(mosi)
        if len(self.frame) < 6:
            return
        index = self.frame[0] & 0x3F
        arg = (self.frame[1] << 24) | (self.frame[2] << 16) | (self.frame[3] << 8) | self.frame[4]
        app = self.app_next
        self.app_next = False
        self.command = (index, app, arg)
        label, name = command_name(index, app)
        meaning = argument_text(index, app, arg, self.block_addressed)
        text = '%s %s, argument 0x%08X' % (label, name, arg)
        self.put_text(self.frame_ss, es, ANN_APP_COMMAND if app else ANN_COMMAND,
                      [text + (': ' + meaning if meaning else ''), text, '%s 0x%08X' % (label, arg), label])
        expected = crc7(self.frame[:5])
        # The card checks CMD0's and CMD8's CRC always, the others once CMD59 has switched checking on.
        if self.frame[5] >> 1 != expected and (self.crc_on or (not app and index in (0, 8))):
            self.warn(self.frame_ss, es, '%s CRC7 0x%02X, should be 0x%02X' % (label, self.frame[5] >> 1, expected))
        if self.frame[5] & 1 == 0:
            self.warn(self.frame_ss, es, '%s frame without its end bit' % label)
        self.waited = 0
        self.state = self.response

    def response(self, ss, es, mosi, miso):
        if miso & 0x80:
            self.waited += 1
            if mosi != 0xFF or self.waited > MAX_NCR:
                self.warn(self.frame_ss, es, 'No response to CMD%d' % self.command[0])
                self.state = self.expect_command
                if mosi != 0xFF:
                    self.state(ss, es, mosi, miso)
            return
        index, app, arg = self.command
        self.put_text(ss, es, ANN_R1, [r1_text(miso), 'R1 0x%02X' % miso])
        self.state = self.expect_command
        accepted = miso & ~1 == 0
        if app:
            return
        if index == 55 and not miso & R1_ILLEGAL:
            self.app_next = True
        elif index == 59 and accepted:
            self.crc_on = bool(arg & 1)
        elif index in (8, 58) and not miso & R1_ILLEGAL:
            self.bytes = []
            self.bytes_ss = es
            self.trailing = index
            self.state = self.trailing_bytes
        elif index == 17 and miso == 0:
            self.waited = 0
            self.state = self.read_token
        elif index == 24 and miso == 0:
            self.state = self.write_token

    def trailing_bytes(self, ss, es, mosi, miso):
        if not self.bytes:
            self.bytes_ss = ss
        self.bytes.append(miso)
        if len(self.bytes) < 4:
            return
        value = (self.bytes[0] << 24) | (self.bytes[1] << 16) | (self.bytes[2] << 8) | self.bytes[3]
        if self.trailing == 58:
            if value & 0x80000000:
                self.block_addressed = bool(value & 0x40000000)
            self.put_text(self.bytes_ss, es, ANN_R3, [ocr_text(value), 'OCR 0x%08X' % value])
        else:
            self.put_text(self.bytes_ss, es, ANN_R7, [r7_text(value), 'R7 0x%08X' % value])
        self.state = self.expect_command

    # --- a single-block read: gap, token, 512 bytes, CRC16

    def read_token(self, ss, es, mosi, miso):
        if mosi != 0xFF:
            self.warn(ss, es, 'The host sent 0x%02X while the card had not yet sent the block' % mosi)
            self.state = self.expect_command
            self.state(ss, es, mosi, miso)
        elif miso == START_TOKEN:
            self.put_text(ss, es, ANN_TOKEN, ['Start token after %d bytes' % self.waited, 'Token'])
            self.bytes = []
            self.state = self.read_block
        elif miso != 0xFF and miso & 0xE0 == 0:
            self.put_text(ss, es, ANN_ERROR_TOKEN, [error_token_text(miso), 'Error 0x%02X' % miso])
            self.state = self.expect_command
        else:
            self.waited += 1
            if miso != 0xFF:
                self.warn(ss, es, 'Byte 0x%02X is neither idle nor a token' % miso)

    def read_block(self, ss, es, mosi, miso):
        if not self.bytes:
            self.bytes_ss = ss
        self.bytes.append(miso)
        self.block_byte(ss, es, 'read')

    # --- a single-block write: gap, token, 512 bytes, CRC16, data response, busy

    def write_token(self, ss, es, mosi, miso):
        if mosi == START_TOKEN:
            self.put_text(ss, es, ANN_TOKEN, ['Start token', 'Token'])
            self.bytes = []
            self.state = self.write_block
        elif mosi != 0xFF:
            self.warn(ss, es, 'The host sent 0x%02X where the block\'s start token belongs' % mosi)
            self.state = self.expect_command
            self.state(ss, es, mosi, miso)

    def write_block(self, ss, es, mosi, miso):
        if not self.bytes:
            self.bytes_ss = ss
        self.bytes.append(mosi)
        self.block_byte(ss, es, 'written')

    def block_byte(self, ss, es, verb):
        if len(self.bytes) == BLOCK:
            self.put_text(self.bytes_ss, es, ANN_BLOCK, ['Data block: %d bytes %s' % (BLOCK, verb), 'Block'])
        elif len(self.bytes) == BLOCK + 1:
            self.crc_ss = ss
        elif len(self.bytes) == BLOCK + 2:
            sent = (self.bytes[BLOCK] << 8) | self.bytes[BLOCK + 1]
            computed = crc16(self.bytes[:BLOCK])
            if sent == computed:
                text = 'CRC16 0x%04X, correct' % sent
            elif verb == 'written' and not self.crc_on:
                text = 'CRC16 0x%04X, not checked (CRC off)' % sent
            else:
                text = 'CRC16 0x%04X, should be 0x%04X' % (sent, computed)
                self.warn(self.crc_ss, es, 'Block CRC16 0x%04X, should be 0x%04X' % (sent, computed))
            self.put_text(self.crc_ss, es, ANN_CRC, [text, 'CRC'])
            self.state = self.data_response if verb == 'written' else self.expect_command

    def data_response(self, ss, es, mosi, miso):
        if miso & 0x11 != 0x01:
            if miso != 0xFF:
                self.warn(ss, es, 'Byte 0x%02X where the data response belongs' % miso)
            return
        self.put_text(ss, es, ANN_DATA_RESPONSE, [data_response_text(miso), 'Response 0x%02X' % (miso & 0x1F)])
        self.busy_ss = es
        self.waited = 0
        self.state = self.busy

    def busy(self, ss, es, mosi, miso):
        if miso == 0x00:
            if self.waited == 0:
                self.busy_ss = ss
            self.waited += 1
            self.busy_es = es
            return
        self.end_busy()
        self.state = self.expect_command
        self.state(ss, es, mosi, miso)

    def end_busy(self):
        if self.waited:
            self.put_text(self.busy_ss, self.busy_es, ANN_BUSY,
                          ['Busy: %d byte%s' % (self.waited, '' if self.waited == 1 else 's'), 'Busy'])
