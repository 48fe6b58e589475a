'''
The SPI mode of an SD or MMC card, followed over a whole session, as the
SD card module of this project drives it: every command with its argument
and response (R1, R3, R7), application commands (CMD55 then ACMDn), CRC
checking switched with CMD59 and the command CRC errors it brings,
single-block reads with their data or error tokens and the block's CRC16,
single-block writes with the card's data response and busy time, the MMC
start-up (CMD1, CMD16), and the idle bytes between transactions.

Stack it on the spi decoder with chip select, clock idle high, data taken
on the rising edge (the module's SPI mode 3); see the project's README.
'''

from .pd import Decoder
