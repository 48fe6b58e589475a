# What the bytes of an SD/MMC SPI-mode session mean: command names, the bits
# of R1, the OCR, R7, tokens and data responses, and the two CRCs, after the
# SD Physical Layer Simplified Specification.

COMMANDS = {
    0: 'GO_IDLE_STATE', 1: 'SEND_OP_COND', 6: 'SWITCH_FUNC', 8: 'SEND_IF_COND',
    9: 'SEND_CSD', 10: 'SEND_CID', 12: 'STOP_TRANSMISSION', 13: 'SEND_STATUS',
    16: 'SET_BLOCKLEN', 17: 'READ_SINGLE_BLOCK', 18: 'READ_MULTIPLE_BLOCK',
    23: 'SET_BLOCK_COUNT', 24: 'WRITE_BLOCK', 25: 'WRITE_MULTIPLE_BLOCK',
    27: 'PROGRAM_CSD', 32: 'ERASE_WR_BLK_START', 33: 'ERASE_WR_BLK_END',
    38: 'ERASE', 55: 'APP_CMD', 56: 'GEN_CMD', 58: 'READ_OCR', 59: 'CRC_ON_OFF',
}
APP_COMMANDS = {
    13: 'SD_STATUS', 22: 'SEND_NUM_WR_BLOCKS', 23: 'SET_WR_BLK_ERASE_COUNT',
    41: 'SD_SEND_OP_COND', 42: 'SET_CLR_CARD_DETECT', 51: 'SEND_SCR',
}

R1_IDLE = 0x01
R1_ILLEGAL = 0x04
R1_BITS = ('idle', 'erase reset', 'illegal command', 'command CRC error',
           'erase sequence error', 'address error', 'parameter error')
ERROR_TOKEN_BITS = ('error', 'card controller error', 'card ECC failed',
                    'out of range', 'card locked')
DATA_RESPONSES = {2: 'accepted', 5: 'CRC error', 6: 'write error'}

START_TOKEN = 0xFE


def command_name(index, app):
    names = APP_COMMANDS if app else COMMANDS
    return ('ACMD%d' if app else 'CMD%d') % index, names.get(index, 'UNKNOWN')


def bits_text(value, names):
    set_bits = [name for bit, name in enumerate(names) if value & (1 << bit)]
    return ', '.join(set_bits)


def r1_text(r1):
    return 'R1 0x%02X: %s' % (r1, bits_text(r1, R1_BITS) or 'ready')


def ocr_text(ocr):
    parts = ['powered up' if ocr & 0x80000000 else 'still powering up']
    if ocr & 0x80000000:
        parts.append('high capacity (CCS)' if ocr & 0x40000000 else 'standard capacity')
    if ocr & 0x00FF8000:
        parts.append('2.7-3.6 V' if ocr & 0x00FF8000 == 0x00FF8000 else 'voltage window 0x%06X' % (ocr & 0x00FF8000))
    return 'R3 OCR 0x%08X: %s' % (ocr, ', '.join(parts))


def r7_text(r7):
    voltage = (r7 >> 8) & 0xF
    return 'R7 0x%08X: %s, check pattern 0x%02X' % (
        r7, 'voltage accepted (2.7-3.6 V)' if voltage == 1 else 'voltage 0x%X not accepted' % voltage, r7 & 0xFF)


def argument_text(index, app, arg, block_addressed):
    '''What the argument of this command means, as far as the session so far tells.'''
    if app and index == 41 or not app and index == 1:
        return 'host supports high capacity (HCS)' if arg & 0x40000000 else 'no HCS'
    if app:
        return ''
    if index == 8:
        return 'voltage 0x%X%s, check pattern 0x%02X' % (
            (arg >> 8) & 0xF, ' (2.7-3.6 V)' if (arg >> 8) & 0xF == 1 else '', arg & 0xFF)
    if index in (17, 18, 24, 25):
        if block_addressed:
            return 'sector %d' % arg
        if block_addressed is None:
            return 'sector %d or byte address %d' % (arg, arg)
        return 'byte address %d (sector %d)' % (arg, arg // 512) if arg % 512 == 0 else 'byte address %d' % arg
    if index == 16:
        return 'block length %d' % arg
    if index == 59:
        return 'CRC checking on' if arg & 1 else 'CRC checking off'
    return ''


def error_token_text(token):
    return 'Error token 0x%02X: %s' % (token, bits_text(token, ERROR_TOKEN_BITS))


def data_response_text(response):
    status = (response >> 1) & 0x7
    return 'Data response 0x%02X: %s' % (response & 0x1F, DATA_RESPONSES.get(status, 'status %d' % status))


def crc7(data):
    crc = 0
    for byte in data:
        for bit in range(7, -1, -1):
            feedback = ((crc >> 6) & 1) ^ ((byte >> bit) & 1)
            crc = (crc << 1) & 0x7F
            if feedback:
                crc ^= 0x09
    return crc


def _crc16_table():
    table = []
    for n in range(256):
        crc = n << 8
        for _ in range(8):
            crc = ((crc << 1) ^ 0x1021 if crc & 0x8000 else crc << 1) & 0xFFFF
        table.append(crc)
    return table


CRC16_TABLE = _crc16_table()


def crc16(data):
    crc = 0
    for byte in data:
        crc = ((crc << 8) & 0xFFFF) ^ CRC16_TABLE[(crc >> 8) ^ byte]
    return crc
