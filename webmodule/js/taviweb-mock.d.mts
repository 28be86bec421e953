// Types of taviweb-mock.mjs.
import * as TaviWebMock from './taviweb-mock.js';
export * from './taviweb-mock.js';
export default TaviWebMock;
